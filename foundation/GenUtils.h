// Free routines used everywhere: locale-independent text conversions, integer and float helpers,
// English date texts, path and folder operations, the table-driven CRC-32, screen and system
// queries and the wait-cursor stack. CommonUtils.h gives the same routines under its own name.
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"
#include "SysUtils.h"

class TCanvas;
struct tagRECT; // RECT, without the whole of <windows.h>

DECLARE_EXCEPTION(EFileMoveError, Exception);

// Module start-up and shut-down: the CRC-32 table and the wait-cursor stack.
void InitializeGenUtils();
void FinalizeGenUtils();

// ---------------------------------------------------------------------------------------------
// Text

// True when S holds no letter 'a'..'z' (also for an empty text).
bool HasNoLowerCase(const std::string &S);
// A non-empty text without lower-case letters becomes lower case with an upper-case first
// character ("MANDEL" -> "Mandel"); anything else is returned unchanged.
std::string CapitalizeUpperCase(const std::string &S);
// Each of  " * / : < > ? \ |  becomes a blank.
std::string MakeValidFileName(const std::string &S);
// "Report" -> "Copy of Report" -> "Copy (2) of Report" -> "Copy (3) of Report".
std::string MakeCopyName(const std::string &Name);
// Multi-line text on one line: each line break becomes one blank, the indentation after it is dropped.
std::string JoinLines(const std::string &S);
// One-line form of a text: CR -> "/n", '/' -> "//", LF dropped.
std::string EncodeLineBreaks(const std::string &S);
// Inverse of EncodeLineBreaks: "//" -> '/', "/n" -> CR LF; '/' with any other character drops both.
std::string DecodeLineBreaks(const std::string &S);
std::string RemoveQuotesAndBraces(const std::string &S);
// General float text with at most three digits after the point (cut, not rounded); an exponent
// part is kept.
std::string FloatToShortText(long double X);
// General format with 19 significant digits, '.' as the decimal point.
std::string FloatToStrExact(long double X);

// ---------------------------------------------------------------------------------------------
// Numbers

// max(Value, Lo), then min with Hi: Hi wins when Lo > Hi.
int Clamp(int Value, int Lo, int Hi);
int Min(int A, int B);
int Max(int A, int B);
// Lo when Lo >= Value, Hi when Hi < Value, else Value (Hi wins when Lo > Hi).
long double ClampFloat(long double Value, long double Lo, long double Hi);
long double MinFloat(long double A, long double B);
long double MaxFloat(long double A, long double B);
// exp(Exponent * ln Base); 0 for Base 0. Callers pass a positive Base.
long double PowerFloat(long double Base, long double Exponent);
// Smallest / largest integer not below / not above X. Values outside the 32-bit range (and NaN)
// give the processor's integer indefinite, -2147483648.
int Ceil(long double X);
int Floor(long double X);
// X minus X rounded toward zero, computed under the x87 control word 0x1F7F.
long double FastFrac(long double X);
// X rounded toward zero to a 32-bit integer under the x87 control word 0x1F7F.
int FastTrunc(long double X);
// Smallest value >= Value that Step divides (unsigned, wrapping to 0 past the top like a count
// upwards would). A Step of 0 returns Value.
std::uint32_t RoundUpToMultiple(std::uint32_t Value, std::uint32_t Step);
bool SameFloat(double A, double B, double Epsilon);
// -1, 0 or 1.
int CompareFloat(double A, double B);
// A reduced into [0, 2*pi); always inside that range (also for -0, tiny negatives and huge
// values); 0 for infinite or NaN input.
long double NormalizeAngle(long double A);
// Angle in [0, 2*pi) of the integer vector (X, Y); the axis directions give exactly 0, pi/2, pi, 3*pi/2.
long double VectorAngle(int Y, int X);
// X > 0: arctan(Y/X); X = 0: pi/2 for Y > 0, else -pi/2; X < 0: arctan(Y/X) + pi for Y > 0, else - pi.
long double ArcTan2(long double Y, long double X);
long double Tan(long double X);
// (Right - Left) * (Bottom - Top) of any rectangle type with Left/Top/Right/Bottom or the Win32
// RECT's left/top/right/bottom.
template <class TRectLike> int RectArea(const TRectLike &R) {
    if constexpr (requires { R.Left; })
        return (R.Right - R.Left) * (R.Bottom - R.Top);
    else
        return (R.right - R.left) * (R.bottom - R.top);
}

// ---------------------------------------------------------------------------------------------
// Dates, in English and independent of the locale, without leading zeros

// "August 19, 2004".
std::string DateToLongText(TDateTime D);
// Reads "August 19, 2004" (month name in any letter case; blanks, tabs and commas between the
// parts). Raises EConvertError "'%s' is not a valid date".
TDateTime LongTextToDate(const std::string &S);
// "8/19/2004".
std::string DateToShortText(TDateTime D);
// Reads "8/19/2004"; raises EConvertError "'%s' is not a valid date".
TDateTime ShortTextToDate(const std::string &S);

// ---------------------------------------------------------------------------------------------
// Paths and files ('\' separates folders)

std::string AddTrailingBackslash(const std::string &P);
std::string RemoveTrailingBackslash(const std::string &P);
// The file name without folder and without its extension.
std::string ExtractFileTitle(const std::string &P);
// The folder of the program file, with a trailing backslash.
std::string GetProgramFolder();
bool IsRelativePath(const std::string &P);
// The stored name of Folder + Name on disk (letter case and long form); a drive "x:" with an
// empty Folder is upper-cased; Name unchanged when nothing matches.
std::string GetLongComponentName(const std::string &Folder, const std::string &Name);
// P rebuilt component by component with GetLongComponentName.
std::string ExpandLongFileName(const std::string &P);
// Flags bit 0: overwrite; bit 1: copy (else move). Raises EFileMoveError.
constexpr int cmfOverwrite = 1;
constexpr int cmfCopy = 2;
void CopyOrMoveFolder(const std::string &Source, const std::string &Dest, int Flags);
// Deletes a file, or a folder with everything in it; raises Exception "Could not delete '%s'.".
void DeleteFileOrFolder(const std::string &P);
// P with an ellipsis in the middle so that it fits Width pixels in the system font.
std::string ShortenPath(const std::string &P, int Width);
// The shell's display name of the drive Letter + ":\".
std::string GetDriveDisplayName(char Letter);
// Index 0..6: "CompanyName", "FileDescription", "FileVersion", "LegalCopyright", "ProductName",
// "ProductVersion", "Comments" of a file's version resource (empty FileName: the program file).
// Any failure gives an empty text.
std::string GetVersionInfoString(int Index, const std::string &FileName = std::string());

// ---------------------------------------------------------------------------------------------
// System and screen

int GetScreenColorDepth();
int GetReservedPaletteEntries();
int GetProcessorCount();
// Milliseconds since the multimedia-timer tick Start (unsigned 32-bit, wraps around).
std::uint32_t GetElapsedTime(std::uint32_t Start);
// Size * H / 13, H the height of "0" in the default canvas font on the desktop, measured once.
int ScaleForScreenFont(int Size);
// Main thread only (nothing elsewhere): push the current cursor and show the hourglass / pop
// and restore the last pushed cursor.
void BeginWaitCursor();
void EndWaitCursor();

// ---------------------------------------------------------------------------------------------
// Drawing

// A segmented progress bar in Rect for a fraction 0..1: blocks (H * 2 / 3 wide, H the height
// less 2, one pitch apart) filled in the highlight colour from the rectangle's left edge plus 2.
// Returns the number of blocks; a null canvas only counts them.
int DrawProgressBlocks(TCanvas *Canvas, const tagRECT &Rect, double Fraction);

template <class Signature> bool SameMethod(const TMethod<Signature> &A, const TMethod<Signature> &B) {
    return A == B;
}

// ---------------------------------------------------------------------------------------------
// CRC-32 (ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320)

void InitCrc32Table();
// Continues Crc over Count bytes; 0 for a null Buffer, Crc unchanged for Count <= 0. Starting
// from 0 gives the standard CRC-32 ("123456789" -> 0xCBF43926).
std::uint32_t UpdateCrc32(std::uint32_t Crc, const void *Buffer, int Count);

// ---------------------------------------------------------------------------------------------
// Worker threads

// Called from inside a catch block: hands the exception being handled to the crash report (an
// EAbort passes silently) and returns when the report is done.
void HandleThreadException();
