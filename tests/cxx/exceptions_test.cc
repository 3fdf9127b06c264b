// The C++ interface's exceptions: what the C functions raise arrives as the
// C++ type of its chain, with its number, catalog, arguments and, for a
// deferred distribution, its defer time; a korvo exception type is caught
// by its base; calls that raise nothing return their result.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <typeinfo>
#include <vector>

#include <korvo/korvo.hpp>

namespace {

class CxxExceptions : public ::testing::Test {
  protected:
    void SetUp() override { korvo::init(); }
};

TEST_F(CxxExceptions, LibraryFailuresCarryTheirCatalogMessage) {
    korvo::PropertyList list;
    list.put_string("size", "big");
    try {
        list.get_string("location");
        FAIL() << "no raise";
    } catch (const korvo::ExKorvoException &) {
        FAIL() << "a library failure is not a korvo exception";
    } catch (const korvo::Error &e) {
        EXPECT_EQ(e.number(), 36);
        EXPECT_EQ(e.catalog(), "Korvo2Catalog");
        EXPECT_EQ(e.arguments(), std::vector<std::string>{"location"});
        EXPECT_STREQ(e.what(), "Unable to find the property associated with the key location.\n");
        EXPECT_TRUE(e.is_a(EH_ERROR_CHAIN));
    }
    // A default does not hide a value of another type.
    try {
        list.get_long("size", 7);
        FAIL() << "no raise";
    } catch (const korvo::Error &e) {
        EXPECT_EQ(e.number(), 37);
    }
    EXPECT_EQ(list.get_long("absent", 7), 7);
    EXPECT_EQ(list.get_string("absent", "fallback"), "fallback");
}

TEST_F(CxxExceptions, KorvoExceptionsArriveAsTheirOwnType) {
    // Raised as a method raises them, from inside the C adapter.
    try {
        korvo::call([] {
            vaMThrow(KORVO_EXCEPTION_CHILD_CHAIN("ExDepotNoSpace"), "Korvo2Catalog", 7,
                     "Segment %1$s needs %2$d KB.", "seg-1", 12);
        });
        FAIL() << "no raise";
    } catch (const korvo::ExSegmentLocked &) {
        FAIL() << "caught as a sibling";
    } catch (const korvo::ExKorvoException &e) {
        EXPECT_NE(dynamic_cast<const korvo::ExDepotNoSpace *>(&e), nullptr);
        EXPECT_EQ(e.number(), 7);
        EXPECT_EQ(e.arguments(), (std::vector<std::string>{"seg-1", "12"}));
        EXPECT_EQ(e.type_chain(), KORVO_EXCEPTION_CHILD_CHAIN("ExDepotNoSpace"));
    }

    ExDistributionDeferred deferred{};
    deferred.defer_time = 300;
    try {
        korvo::call([&] {
            vaMThrowChild(KORVO_EXCEPTION_CHILD_CHAIN("ExDistributionDeferred"), &deferred,
                          sizeof deferred, "Korvo2Catalog", 206, "busy %1$s %2$d", "pkg", 300);
        });
        FAIL() << "no raise";
    } catch (const korvo::ExDistributionDeferred &e) {
        EXPECT_EQ(e.defer_time(), 300);
        EXPECT_EQ(e.number(), 206);
    }

    try {
        korvo::call([] { vaMThrow(KORVO_EXCEPTION_CHAIN, nullptr, 0, "plain"); });
        FAIL() << "no raise";
    } catch (const korvo::ExKorvoException &e) {
        EXPECT_EQ(typeid(e), typeid(korvo::ExKorvoException));
    }
}

TEST_F(CxxExceptions, CallsReturnWhatTheCFunctionReturns) {
    EXPECT_EQ(korvo::call([] { return 41 + 1; }), 42);
    int ran = 0;
    korvo::call([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    // A failed depot operation is a status, not a catalog message.
#if defined(_WIN32)
    // A path without a drive names no file there.
    const char *missing = "C:/nonexistent/korvo/file";
#else
    const char *missing = "/nonexistent/korvo/file";
#endif
    try {
        korvo::File::open(missing, KES_FILE_READ);
        FAIL() << "no failure";
    } catch (const korvo::StatusError &e) {
        EXPECT_EQ(e.code(), KES_SYSTEM_ERROR);
        EXPECT_EQ(e.status().osError, ENOENT);
    }
}

}  // namespace
