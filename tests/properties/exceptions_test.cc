// korvo exceptions: raising with vaMThrow and vaMThrowChild, catching in C++
// and in C by type chain, the message entry's arguments, the records'
// builders and marshal functions, and the type codes the runtime frees and
// renders them with.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "properties/errors/korvo_catalog.h"
#include "properties/errors/korvo_exceptions.h"
#include "properties/korvo_types.h"
#include "runtime/generic.h"
#include "runtime/message.h"
#include "tests/properties/props_test_util.hpp"

extern "C" {
// tests/properties/c_callers.c
int c_raise_deferred(int32_t seconds, int32_t *defer_time, char *text, size_t size);
int c_missing_key(char *text, size_t size);
int c_remove_and_free(void);
}

namespace {

using korvo::rt::Exception;
using namespace props_test;

#define DEFERRED_CHAIN KORVO_EXCEPTION_CHILD_CHAIN("ExDistributionDeferred")

using Exceptions = Initialized;

std::vector<std::string> arguments_of(const Exception &e) {
    std::vector<std::string> out;
    if (const StringList *list = e.arguments())
        for (uint32_t i = 0; i < list->length; ++i)
            out.emplace_back(list->buffer[i]);
    return out;
}

TEST_F(Exceptions, VaMThrowRaisesAKorvoRecord) {
    const auto before = static_cast<int32_t>(std::time(nullptr));
    try {
        vaMThrow(KORVO_EXCEPTION_CHILD_CHAIN("ExSegmentNotFound"), Korvo2Catalog[0],
                 KORVO_MSG_SEGMENT_NOT_FOUND, Korvo2Catalog[KORVO_MSG_SEGMENT_NOT_FOUND], "seg1",
                 "1.0");
        FAIL() << "vaMThrow returned";
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(),
                     "The segment seg1^1.0 required for this distribution could not be found.\n");
        EXPECT_STREQ(e.type_chain(),
                     "Exception:UserException:SysAdminException::ExException:ExErrorMsg:"
                     "Vem_Korvo2::ExKorvoException:Vem_Korvo2::ExSegmentNotFound");
        EXPECT_TRUE(e.is_a(KORVO_EXCEPTION_CHAIN));
        EXPECT_TRUE(e.is_a(EH_ERROR_CHAIN));
        EXPECT_FALSE(e.is_a(KORVO_EXCEPTION_CHILD_CHAIN("ExSegmentLocked")));
        EXPECT_EQ(e.type(), TC_Vem_Korvo2_ExSegmentNotFound);
        EXPECT_EQ(e.number(), KORVO_MSG_SEGMENT_NOT_FOUND);
        EXPECT_STREQ(e.catalog(), "Korvo2Catalog");
        const auto *record = static_cast<const ExKorvoException *>(e.record());
        EXPECT_STREQ(record->type_name, e.type_chain());
        EXPECT_EQ(record->catalog, nullptr);
        EXPECT_EQ(record->key, 0);
        EXPECT_STREQ(record->default_msg, "%7$M");
        EXPECT_GE(record->time_stamp, before);
        EXPECT_EQ(record->msg_context.length, 0u);
        EXPECT_EQ(record->emsg.length, 1u);
    }
}

// A type name outside the error chain names no record type the runtime could
// free the record as: the raise is the korvo base exception, with the message
// asked for, and nothing of the record is lost (the sanitizer build checks).
TEST_F(Exceptions, ATypeNameOutsideTheErrorChainRaisesTheBaseException) {
    for (const char *name : {"Foo", "", static_cast<const char *>(nullptr)}) {
        try {
            vaMThrow(name, Korvo2Catalog[0], KORVO_MSG_PROPERTY_NOT_FOUND,
                     Korvo2Catalog[KORVO_MSG_PROPERTY_NOT_FOUND], "size");
            FAIL() << "vaMThrow returned";
        } catch (const Exception &e) {
            EXPECT_STREQ(e.type_chain(), KORVO_EXCEPTION_CHAIN);
            EXPECT_EQ(e.type(), TC_Vem_Korvo2_ExKorvoException);
            EXPECT_STREQ(e.what(), "Unable to find the property associated with the key size.\n");
        }
    }
    try {
        ExDistributionDeferred deferred{};
        deferred.defer_time = 30;
        vaMThrowChild("Bar", &deferred, sizeof deferred, Korvo2Catalog[0], 1, "deferred");
        FAIL() << "vaMThrowChild returned";
    } catch (const Exception &e) {
        EXPECT_STREQ(e.type_chain(), KORVO_EXCEPTION_CHAIN);
        EXPECT_STREQ(e.what(), "deferred");
    }
}

TEST_F(Exceptions, MessageArgumentsFollowTheCatalogRules) {
    const auto raise = [](const char *text, auto... arguments) {
        try {
            vaMThrow(KORVO_EXCEPTION_CHAIN, Korvo2Catalog[0], 7, text, arguments...);
        } catch (const Exception &e) {
            return e;
        }
        throw std::logic_error("vaMThrow returned");
    };
    // Numbers are stored unsigned; "%%" takes no argument.
    Exception numbers = raise("%1$s %2$d %% %3$u", "abc", -1, 7);
    EXPECT_EQ(arguments_of(numbers), (std::vector<std::string>{"abc", "4294967295", "7"}));
    EXPECT_STREQ(numbers.what(), "abc 4294967295 % 7");

    errno = ENOENT;
    Exception from_errno = raise("failed: %1$s", "$errno");
    EXPECT_EQ(arguments_of(from_errno), std::vector<std::string>{std::strerror(ENOENT)});

    EXPECT_TRUE(arguments_of(raise("no placeholders")).empty());

    // An illegal conversion keeps the faulty text as the only argument.
    Exception illegal = raise("ratio %1$f", 0.5);
    EXPECT_EQ(illegal.number(), 0);
    EXPECT_EQ(illegal.catalog(), nullptr);
    EXPECT_STREQ(illegal.message()->default_msg, "Format has illegal types (%1$s)");
    EXPECT_EQ(arguments_of(illegal), std::vector<std::string>{"ratio %1$f"});
    EXPECT_STREQ(illegal.what(), "Format has illegal types (ratio %1$f)");
}

TEST_F(Exceptions, ChildRecordsCarryTheirTemplatesExtraMembers) {
    ExDistributionDeferred deferred{};
    deferred.defer_time = 300;
    deferred.key = 99;  // the common part is not taken from the template
    try {
        vaMThrowChild(DEFERRED_CHAIN, &deferred, sizeof deferred, Korvo2Catalog[0],
                      KORVO_MSG_CDS_DEPOT_BUSY, Korvo2Catalog[KORVO_MSG_CDS_DEPOT_BUSY], "pkg-7",
                      300);
        FAIL() << "vaMThrowChild returned";
    } catch (const Exception &e) {
        EXPECT_EQ(e.type(), TC_Vem_Korvo2_ExDistributionDeferred);
        EXPECT_TRUE(e.is_a(KORVO_EXCEPTION_CHAIN));
        const auto *record = static_cast<const ExDistributionDeferred *>(e.record());
        EXPECT_EQ(record->defer_time, 300);
        EXPECT_EQ(record->key, 0);
        EXPECT_STREQ(e.what(),
                     "The CDS package 'pkg-7' can not be retrieved due to the depot server being "
                     "too busy.  Retry in 300 seconds.");
    }
    // A template no larger than the common part adds nothing.
    try {
        vaMThrowChild(KORVO_EXCEPTION_CHILD_CHAIN("ExInvalidCall"), nullptr, 8, nullptr, 1, "x");
    } catch (const Exception &e) {
        EXPECT_EQ(e.type(), TC_Vem_Korvo2_ExInvalidCall);
        EXPECT_STREQ(e.what(), "x");
    }
}

TEST_F(Exceptions, CCallersCatchByChain) {
    char text[256];
    int32_t defer_time = 0;
    EXPECT_EQ(c_raise_deferred(600, &defer_time, text, sizeof text), KORVO_MSG_CDS_DEPOT_BUSY);
    EXPECT_EQ(defer_time, 600);
    EXPECT_STREQ(text,
                 "The CDS package 'pkg' can not be retrieved due to the depot server being too "
                 "busy.  Retry in 600 seconds.");
    EXPECT_EQ(c_missing_key(text, sizeof text), KORVO_MSG_PROPERTY_NOT_FOUND);
    EXPECT_STREQ(text, "Unable to find the property associated with the key size.\n");
    // A removed property freed from C as its header says (the sanitizer build
    // checks that nothing is lost or freed twice).
    EXPECT_EQ(c_remove_and_free(), 1);
}

TEST_F(Exceptions, TypeCodesDescribeTheRecords) {
    // The records begin as the runtime's error record, member by member,
    // which is how a caught record is rendered and freed.
    const TypeCode base = tc_prepare(TC_Vem_Korvo2_ExKorvoException);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->member_words, 15u);
    for (uint32_t i = 0; i < 7; ++i) {
        EXPECT_STREQ(tc_member_name(base, i), tc_member_name(TC_ExErrorMsg, i));
        EXPECT_EQ(tc_member_type(base, i), tc_member_type(TC_ExErrorMsg, i));
        EXPECT_EQ(tc_member_offset(base, i), tc_member_offset(TC_ExErrorMsg, i));
    }
    const TypeCode deferred = tc_prepare(TC_Vem_Korvo2_ExDistributionDeferred);
    ASSERT_NE(deferred, nullptr);
    EXPECT_EQ(deferred->size, sizeof(ExDistributionDeferred));
    EXPECT_EQ(deferred->member_words, 17u);
    EXPECT_EQ(tc_member_offset(deferred, 7), offsetof(ExDistributionDeferred, defer_time));
}

TEST_F(Exceptions, BuiltRecordsMarshalMemberByMember) {
    MessageEntry entry{};
    ASSERT_EQ(msg_entry_build(&entry, "Korvo2Catalog", 206, "%1$s", "pkg"), 1);
    MessageList messages{1, 1, &entry};
    ExDistributionDeferred *record = create_Vem_Korvo2_ExDistributionDeferred(
        DEFERRED_CHAIN, "Korvo2Catalog", 206, "%7$M", 1700000000, nullptr, &messages, 45);
    vem_free_generic(&entry, TC_Vem_Types_XOpenMessageEntry);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->defer_time, 45);
    EXPECT_EQ(record->emsg.length, 1u);
    EXPECT_NE(record->emsg.buffer, &entry);

    const Bytes bytes = props_test::encode(TC_Vem_Korvo2_ExDistributionDeferred, record);
    const Bytes message = str("Korvo2Catalog") + str("%1$s") + u32(206) +  //
                          str("Vem_Types::StringList") + u32(1) + str("pkg");
    EXPECT_EQ(bytes, str(DEFERRED_CHAIN) + str("Korvo2Catalog") + u32(206) + str("%7$M") +
                         u32(1700000000) + u32(0) + u32(1) + message + u32(45));

    ExDistributionDeferred decoded{};
    ASSERT_EQ(props_test::decode(TC_Vem_Korvo2_ExDistributionDeferred, bytes, &decoded), ADR_OK);
    EXPECT_EQ(_t_generic_equal(TC_Vem_Korvo2_ExDistributionDeferred, nullptr, &decoded, record), 1);
    vem_free_generic(&decoded, TC_Vem_Korvo2_ExDistributionDeferred);
    vem_free_generic(record, TC_Vem_Korvo2_ExDistributionDeferred);
    mg_free(record);

    ExKorvoException *plain =
        create_Vem_Korvo2_ExSendError(nullptr, nullptr, 0, "text", 0, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(props_test::encode(TC_Vem_Korvo2_ExSendError, plain),
              u32(0xFFFFFFFF) + u32(0xFFFFFFFF) + u32(0) + str("text") + u32(0) + u32(0) + u32(0));
    vem_free_generic(plain, TC_Vem_Korvo2_ExSendError);
    mg_free(plain);
}

}  // namespace
