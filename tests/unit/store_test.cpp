// The settings store against Wine's real registry. Each test gets a private
// HKEY_CURRENT_USER (RegOverridePredefKey), so the program's own key name is
// used unchanged and nothing leaks between tests or into the prefix.
#include "core/settings.h"
#include "core/store.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
#include <string>

namespace {

class Store : public ::testing::Test {
protected:
    HKEY root_ = NULL;
    std::string rootName_;

    void SetUp() override
    {
        rootName_ = std::string("Software\\HalvoryTests\\")
            + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteTreeA(HKEY_CURRENT_USER, rootName_.c_str());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, rootName_.c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &root_, NULL));
        ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CURRENT_USER, root_));
        g_intervalMs = DEFAULT_INTERVAL_MS;
        lstrcpynA(g_soundPath, DEFAULT_SOUND_PATH, SOUND_PATH_SIZE);
    }

    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, NULL);
        if (root_)
            RegCloseKey(root_);
        RegDeleteTreeA(HKEY_CURRENT_USER, rootName_.c_str());
    }

    // Stores a raw value under the program's key, as another tool might have.
    void Put(const char *name, DWORD type, const void *data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, STORE_KEY, 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &key, NULL));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE *)data, size));
        RegCloseKey(key);
    }

    // Reads a stored value back raw: its type and its exact bytes.
    std::string Raw(const char *name, DWORD *type)
    {
        HKEY key;
        char data[1024];
        DWORD size = sizeof(data);
        *type = REG_NONE;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, STORE_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "<no key>";
        LONG rc = RegQueryValueExA(key, name, NULL, type, (BYTE *)data, &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? std::string(data, size) : "<no value>";
    }

    bool KeyExists()
    {
        DWORD type;
        return Raw("Wait", &type) != "<no key>";
    }
};

TEST_F(Store, MissingKeyKeepsDefaultsAndReadingDoesNotCreateIt)
{
    ReadSettings();
    EXPECT_EQ(10000u, g_intervalMs);
    EXPECT_STREQ("Orvel.mp3", g_soundPath);
    EXPECT_FALSE(KeyExists()) << "only a write may create the key";
}

TEST_F(Store, WriteStoresExactTypesAndSizesAndReadsBack)
{
    g_intervalMs = 5400000u;
    lstrcpynA(g_soundPath, "C:\\a.wav", SOUND_PATH_SIZE);
    WriteSettings();
    EXPECT_TRUE(KeyExists());
    DWORD type;
    std::string wait = Raw("Wait", &type);
    EXPECT_EQ((DWORD)REG_DWORD, type);
    ASSERT_EQ(4u, wait.size());
    DWORD stored;
    memcpy(&stored, wait.data(), 4);
    EXPECT_EQ(5400000u, stored);
    std::string sound = Raw("SoundFile", &type);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(std::string("C:\\a.wav", 9), sound) << "8 characters and the NUL";
    g_intervalMs = 1;
    lstrcpynA(g_soundPath, "x", SOUND_PATH_SIZE);
    ReadSettings();
    EXPECT_EQ(5400000u, g_intervalMs);
    EXPECT_STREQ("C:\\a.wav", g_soundPath);
}

TEST_F(Store, JapanesePathRoundTripsInCodePage932)
{
    // 表 and ソ end in 0x5C, the byte of a backslash.
    const char path[] = "C:\\表\\ソ\\音.wav";
    lstrcpynA(g_soundPath, path, SOUND_PATH_SIZE);
    WriteSettings();
    lstrcpynA(g_soundPath, "x", SOUND_PATH_SIZE);
    ReadSettings();
    EXPECT_STREQ(path, g_soundPath);
}

// The Wait value alone, as another tool might have stored it: only 4 bytes
// load, of any type, and every 32-bit value is kept as it is; the sound stays
// the default (no SoundFile stored).
TEST_F(Store, WaitOfAnotherSizeLeavesTheIntervalItHad)
{
    const struct { const char *what; DWORD type; const char *data; DWORD size; unsigned int expected; } cases[] = {
        {"2000", REG_DWORD, "\xd0\x07\x00\x00", 4, 2000u},
        {"zero", REG_DWORD, "\x00\x00\x00\x00", 4, 0u},
        {"the largest", REG_DWORD, "\xff\xff\xff\xff", 4, 0xFFFFFFFFu},
        {"REG_SZ text", REG_SZ, "5000", 5, 10000u},
        {"8-byte REG_QWORD", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08", 8, 10000u},
        {"2-byte binary", REG_BINARY, "\x34\x12", 2, 10000u},
        {"empty binary", REG_BINARY, "", 0, 10000u},
        {"4-byte binary", REG_BINARY, "\xe8\x03\x00\x00", 4, 1000u},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        g_intervalMs = DEFAULT_INTERVAL_MS;
        Put("Wait", c.type, c.data, c.size);
        ReadSettings();
        EXPECT_EQ(c.expected, g_intervalMs);
        EXPECT_STREQ("Orvel.mp3", g_soundPath) << "no SoundFile stored";
    }
}

// The SoundFile value alone: whatever its type or length, the path read ends
// with a NUL inside the buffer (or the default stays), and the interval stays
// the default (no Wait stored).
TEST_F(Store, SoundFileAlwaysEndsWithANulInsideTheBuffer)
{
    const std::string a259(259, 'a'), a260(260, 'b'), a300(300, 'c');
    const struct { const char *what; DWORD type; std::string data; std::string expected; } cases[] = {
        {"a path", REG_SZ, std::string("C:\\only.wav", 12), "C:\\only.wav"},
        {"259 bytes and NUL fill the buffer", REG_SZ, a259 + '\0', a259},
        {"260 bytes and NUL overflow", REG_SZ, a260 + '\0', "Orvel.mp3"},
        {"300 bytes overflow", REG_SZ, a300 + '\0', "Orvel.mp3"},
        {"260 bytes without NUL", REG_BINARY, a260, "Orvel.mp3"},
        {"text without NUL", REG_SZ, "C:\\x.wav", "C:\\x.wav"},
        {"binary with NUL", REG_BINARY, std::string("C:\\b.wav\0", 9), "C:\\b.wav"},
        {"binary without NUL", REG_BINARY, "C:\\c.wav", "C:\\c.wav"},
        {"empty text", REG_SZ, std::string("\0", 1), ""},
        {"no bytes at all", REG_BINARY, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        lstrcpynA(g_soundPath, DEFAULT_SOUND_PATH, SOUND_PATH_SIZE);
        // Leave no NUL behind the default, so a missing terminator would show.
        memset(g_soundPath + sizeof(DEFAULT_SOUND_PATH), 'Z', SOUND_PATH_SIZE - sizeof(DEFAULT_SOUND_PATH));
        Put("SoundFile", c.type, c.data.data(), (DWORD)c.data.size());
        ReadSettings();
        ASSERT_TRUE(memchr(g_soundPath, '\0', SOUND_PATH_SIZE) != NULL) << "not terminated";
        EXPECT_EQ(c.expected, std::string(g_soundPath));
        EXPECT_EQ(10000u, g_intervalMs) << "no Wait stored";
    }
}

}  // namespace
