// The document types' registrations, read back with the registry's own calls; the expected values
// are the registration layout of the shell (".ext" names the ProgID, which names the description,
// the icon "<program>,-<id>" and the open command).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "FileAssociations.h"

namespace {

const char *const Extensions[] = {"ofr", "opr", "ogr", "oal", "oxf", "ofm", "ocl", "orj"};

std::string ReadDefault(const std::string &Key) {
    char value[1024];
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_CLASSES_ROOT, Key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return "(missing)";
    return value;
}

void WriteDefault(const std::string &Key, const std::string &Value) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, Key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(Value.c_str()), Value.size() + 1);
    RegCloseKey(key);
}

class FileAssociationsTest : public testing::Test {
protected:
    static void Clear() {
        for (const char *extension : Extensions) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string(".") + extension).c_str());
            RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("OB_") + extension + "_File").c_str());
        }
    }
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
};

TEST_F(FileAssociationsTest, RegistersTheEightTypesWithAQuotedCommand) {
    struct TExpected {
        const char *Extension, *Description, *Icon;
    };
    const TExpected expected[] = {
        {"ofr", "Fractal Image", "-8"},
        {"opr", "Fractal Parameters", "-2"},
        {"ogr", "Fractal Gradients", "-3"},
        {"oal", "Fractal Gradients", "-3"},
        {"oxf", "Fractal Transformations", "-4"},
        {"ofm", "Fractal Formulas", "-5"},
        {"ocl", "Fractal Coloring Algorithms", "-6"},
        {"orj", "Fractal Render Job", "-9"},
    };
    const std::string program = "C:\\Program Files\\Orbisk Vantel\\OrbiskVantel.exe";
    TFileAssociations associations(program);
    EXPECT_FALSE(associations.AreAllRegistered());
    associations.RegisterAll();
    for (const TExpected &e : expected) {
        SCOPED_TRACE(e.Extension);
        const std::string progId = std::string("OB_") + e.Extension + "_File";
        EXPECT_EQ(progId, ReadDefault(std::string(".") + e.Extension));
        EXPECT_EQ(e.Description, ReadDefault(progId));
        EXPECT_EQ(program + "," + e.Icon, ReadDefault(progId + "\\DefaultIcon"));
        EXPECT_EQ("\"" + program + "\" \"%1\"", ReadDefault(progId + "\\shell\\open\\command"));
    }
    EXPECT_TRUE(associations.AreAllRegistered());
    // Letter case does not matter to the check.
    EXPECT_TRUE(TFileAssociations("c:\\program files\\orbisk vantel\\orbiskvantel.EXE").AreAllRegistered());
}

TEST_F(FileAssociationsTest, AnyDifferenceMakesATypeUnregistered) {
    const std::string program = "C:\\OV\\OrbiskVantel.exe";
    struct TCase {
        const char *Key;
        const char *Value;
        int Type;
    };
    const TCase cases[] = {
        {".ogr", "OtherProgram.Gradient", 2},
        {"OB_ofm_File", "Formulas", 5},
        {"OB_orj_File\\DefaultIcon", "C:\\OV\\OrbiskVantel.exe,-1", 7},
        // The unquoted command of older registrations.
        {"OB_ofr_File\\shell\\open\\command", "C:\\OV\\OrbiskVantel.exe \"%1\"", 0},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Key);
        TFileAssociations associations(program);
        associations.RegisterAll();
        WriteDefault(c.Key, c.Value);
        for (int i = 0; i < FileTypeCount; ++i)
            EXPECT_EQ(i != c.Type, associations.IsRegistered(i)) << i;
        EXPECT_FALSE(associations.AreAllRegistered());
        associations.Register(c.Type);
        EXPECT_TRUE(associations.AreAllRegistered());
    }
    // Started from another folder, the program finds every command different.
    TFileAssociations moved("D:\\Elsewhere\\OrbiskVantel.exe");
    for (int i = 0; i < FileTypeCount; ++i)
        EXPECT_FALSE(moved.IsRegistered(i)) << i;
    // A missing key.
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "OB_oxf_File\\DefaultIcon");
    EXPECT_FALSE(TFileAssociations(program).IsRegistered(4));
}

} // namespace
