// Text routines of the crash library. The library keeps working while the rest of the program may
// be broken, so it uses none of the program's own helpers. Texts are byte strings (code page
// 1252); positions are 1-based and a position of 0 means "not found".
#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <string>

// A set of byte values.
using TCharSet = std::bitset<256>;
TCharSet MakeCharSet(const char *chars);
TCharSet MakeCharRange(unsigned char first, unsigned char last);

// Removes every character of the set; true when anything was removed.
bool RemoveCharsInSet(std::string &Text, const TCharSet &Set);
// Replaces every occurrence of OldPart. Without Repeat the search goes on behind the inserted
// text; with it the inserted text is searched again (one character later when it is longer than
// the old part), so replacing two blanks by one leaves no two blanks in a row.
bool ReplaceSubstring(std::string &Text, const std::string &OldPart, const std::string &NewPart, bool Repeat);
bool ReplaceSubstringIgnoreCase(std::string &Text, const std::string &OldPart, const std::string &NewPart,
                                bool Repeat);
std::string CopyWithout(const std::string &Text, int Position, int Count);
void KeepRange(std::string &Text, int Position, int Count);
std::string RightPart(const std::string &Text, int Count);

// 'a'-'z', 0xE4, 0xF6 and 0xFC go up by 32; nothing else changes.
char UpperCaseChar(char C);
std::string UpperCaseText(const std::string &Text);
// Code page 1252 lower-case folding.
char FoldCase(char C);
bool EqualIgnoreCase(const std::string &A, const std::string &B);

// First occurrence starting between From and To; searched backward when From > To.
int FindSubstring(const std::string &Part, const std::string &Text, int From, int To);
int FindSubstringIgnoreCase(const std::string &Part, const std::string &Text, int From, int To);
bool StartsWithIgnoreCase(const std::string &Part, const std::string &Text);
int FindCharInSet(const TCharSet &Set, const std::string &Text, int From, int To);

// Padded to |Width| with Fill: on the left for Width >= 1, else on the right.
std::string PadText(const std::string &Text, int Width, char Fill);
std::string IntegerText(std::int32_t Value, int Width = 0, char Fill = ' ');
std::string IntegerText(std::uint32_t Value, int Width = 0, char Fill = ' ');
std::string IntegerText(std::int64_t Value, int Width = 0, char Fill = ' ');
// '$' and lower-case digits: HexText(0x1a, 1, '0') is "$1a", HexText(0x1a, 8, '0') "$0000001a",
// HexText(0x1a2b, 8, ' ') "   $1a2b".
std::string HexText(std::uint32_t Value, int Width = 1, char Fill = '0');
std::string HexText(std::uint64_t Value, int Width = 1, char Fill = '0');
// An optional '-' and digits; characters that are not digits count as 0. Nothing is validated.
std::int64_t ParseInteger(bool Hexadecimal, const char *Chars, int Count);

// Drops the characters 0-32 at both ends and around every separator.
void TidySeparatedList(std::string &Text, char Separator);
int CountItems(const std::string &Text, char Separator);
std::string ItemAt(const std::string &Text, int Index, char Separator);
bool ContainsItem(const std::string &List, const std::string &Item, char Separator);

char DecimalSeparatorChar();
// "1023 Bytes", "1.50 KB", "2.00 MB", "1.00 GB".
std::string ByteSizeText(std::int64_t Count);
// The system's message for an error code, on one line; never empty.
std::string SystemErrorText(std::uint32_t Code);
// Applying it twice gives the text back.
std::string Unscramble(const std::string &Text);
std::wstring ToWideText(const std::string &Text, bool Terminator);
