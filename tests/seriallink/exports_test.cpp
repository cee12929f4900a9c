// The DLL as a host program sees it: bound by name, and linked by its
// import library for the C++ exports.
#include <gtest/gtest.h>

#include <cstring>

#include "Vetrolink.h"

namespace
{

class BoundByName : public ::testing::Test
{
protected:
    void SetUp() override
    {
        library = LoadLibraryA("Vetrolink.dll");
        ASSERT_NE(nullptr, library);
    }
    void TearDown() override
    {
        if (library) FreeLibrary(library);
    }
    template <typename Proc> Proc Bind(const char *name)
    {
        return reinterpret_cast<Proc>(reinterpret_cast<void *>(GetProcAddress(library, name)));
    }
    HMODULE library = nullptr;
};

TEST_F(BoundByName, AskVerFillsSevenBytesAndNoMore)
{
    auto askVer = Bind<AskVerProc>("AskVer");
    ASSERT_NE(nullptr, askVer);
    for (unsigned char fill : {0x00, 0xff}) {
        unsigned char buffer[7 + 9];
        std::memset(buffer, fill, sizeof buffer);
        EXPECT_EQ(0, askVer(reinterpret_cast<char *>(buffer)));
        EXPECT_EQ(0, std::memcmp(buffer, "Ver5.1\0", 7));
        for (size_t i = 7; i < sizeof buffer; ++i)
            EXPECT_EQ(fill, buffer[i]) << "byte " << i;
    }
    char exact[7];
    EXPECT_EQ(0, askVer(exact));
    EXPECT_STREQ("Ver5.1", exact);
}

TEST_F(BoundByName, WindowsVerAnswersTheSameTwice)
{
    auto windowsVer = Bind<WindowsVerProc>("WindowsVer");
    ASSERT_NE(nullptr, windowsVer);
    int first = windowsVer();
    EXPECT_EQ(first, windowsVer());
}

TEST(CxxExports, WorkThroughTheImportLibrary)
{
    EXPECT_EQ(42, fnVetrolink());
    EXPECT_EQ(42, fnVetrolink());
    EXPECT_EQ(0, nVetrolink);
    CVetrolink a, b;
    EXPECT_EQ(&a, &(a = b));
}

} // namespace
