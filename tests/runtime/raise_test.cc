// Raising and catching through C++ and through the C adapter, the records
// raised, type chains, rendering and frames.
#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/env.h"
#include "runtime/generic.h"
#include "runtime/message.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"

namespace {

using korvo::rt::Exception;

// A child exception type shaped as the library's: the runtime's seven
// members and one more.
struct ChildRecord {
    ErrorRecord base;
    int32_t defer_time;
};
TcWord child_members[17] = {{.name = "Sample::ExChild"},
                            {.name = "type_name"},
                            {.type = TC_string},
                            {.name = "catalog"},
                            {.type = TC_string},
                            {.name = "key"},
                            {.type = TC_long},
                            {.name = "default_msg"},
                            {.type = TC_string},
                            {.name = "time_stamp"},
                            {.type = TC_long},
                            {.name = "msg_context"},
                            {.type = TC__sequence_any_MsgContext},
                            {.name = "emsg"},
                            {.type = TC_Vem_Types_XOpenMessage},
                            {.name = "defer_time"},
                            {.type = TC_long}};
TypeCodeRec TC_ExChild[1] = {{"Sample::ExChild", TC_STATE_STATIC, tk_struct, sizeof(ChildRecord),
                              nullptr, 17, child_members}};
TcWord child_types[] = {{.name = "Sample::ExChild"}, {.type = TC_ExChild}, {.name = nullptr}};
TypeRepository child_repository[1] = {{child_types, nullptr}};

#define CHILD_CHAIN EH_ERROR_CHAIN ":Sample::ExChild"

ChildRecord *child_record(const char *text, const char *argument) {
    auto *record = static_cast<ChildRecord *>(mg_calloc(1, sizeof(ChildRecord)));
    record->base.type_name = mg_strdup(CHILD_CHAIN);
    record->base.default_msg = mg_strdup("%7$M");
    record->defer_time = 300;
    auto *entry = static_cast<MessageEntry *>(mg_calloc(1, sizeof(MessageEntry)));
    msg_entry_build(entry, "Korvo2Catalog", 206, text, argument);
    record->base.emsg = MessageList{1, 1, entry};
    return record;
}

TEST(Raise, VaThrowRaisesTheRuntimeErrorRecord) {
    const auto before = static_cast<int32_t>(std::time(nullptr));
    try {
        vaThrow("Korvo2Catalog", 19,
                "Cannot read from file %1$s. The number of bytes to read was %2$d and the error "
                "code is %3$d.\n",
                "/tmp/x", -1, 2);
        FAIL() << "vaThrow returned";
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(),
                     "Cannot read from file /tmp/x. The number of bytes to read was 4294967295 and "
                     "the error code is 2.\n");
        EXPECT_STREQ(e.type_chain(), EH_ERROR_CHAIN);
        EXPECT_EQ(e.type(), TC_ExErrorMsg);
        EXPECT_STREQ(e.catalog(), "Korvo2Catalog");
        EXPECT_EQ(e.number(), 19);
        ASSERT_NE(e.arguments(), nullptr);
        EXPECT_EQ(e.arguments()->length, 3u);
        EXPECT_STREQ(e.arguments()->buffer[0], "/tmp/x");
        const ErrorRecord *record = e.error_record();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(static_cast<const void *>(record), e.record());
        EXPECT_STREQ(record->type_name, EH_ERROR_CHAIN);
        EXPECT_EQ(record->catalog, nullptr);
        EXPECT_EQ(record->key, 0);
        EXPECT_STREQ(record->default_msg, "%7$M");
        EXPECT_GE(record->time_stamp, before);
        EXPECT_LE(record->time_stamp, static_cast<int32_t>(std::time(nullptr)));
        EXPECT_EQ(record->msg_context.length, 0u);
        EXPECT_EQ(record->emsg.length, 1u);
    }
}

TEST(Raise, ChainsMatchByWholeNames) {
    const char *chain = CHILD_CHAIN;
    EXPECT_TRUE(eh_chain_matches(chain, "Exception"));
    EXPECT_TRUE(eh_chain_matches(chain, "Exception:UserException"));
    EXPECT_TRUE(eh_chain_matches(chain, EH_ERROR_CHAIN));
    EXPECT_TRUE(eh_chain_matches(chain, CHILD_CHAIN));
    EXPECT_TRUE(eh_chain_matches(chain, ""));
    // "SysAdminException::ExException" is one name.
    EXPECT_FALSE(eh_chain_matches(chain, "Exception:UserException:SysAdminException"));
    EXPECT_FALSE(eh_chain_matches(chain, "Exception:User"));
    EXPECT_FALSE(eh_chain_matches(chain, EH_ERROR_CHAIN ":Sample::ExChil"));
    EXPECT_FALSE(eh_chain_matches(chain, EH_ERROR_CHAIN ":"));
    EXPECT_FALSE(eh_chain_matches(chain, CHILD_CHAIN ":More"));
    EXPECT_FALSE(eh_chain_matches(nullptr, "Exception"));
}

TEST(Raise, ThrownRecordsKeepTheirTypeAndRenderTheirMembers) {
    TypeRepository *list[] = {child_repository, nullptr};
    ASSERT_EQ(adr_type_init(list), 1);
    try {
        eh_throw(CHILD_CHAIN, child_record("Retry in %1$s seconds.", "300"));
    } catch (const Exception &e) {
        EXPECT_EQ(e.type(), TC_ExChild);
        EXPECT_TRUE(e.is_a(EH_ERROR_CHAIN));
        EXPECT_FALSE(e.is_a(EH_ERROR_CHAIN ":Sample::Other"));
        EXPECT_STREQ(e.what(), "Retry in 300 seconds.");
        EXPECT_EQ(static_cast<const ChildRecord *>(e.record())->defer_time, 300);
        EXPECT_EQ(e.number(), 206);
    }

    // Other members render by their kind; a record without a registered
    // type is read as the runtime's error record.
    ChildRecord *record = child_record("%1$s", "inner text");
    mg_free(record->base.default_msg);
    record->base.default_msg = mg_strdup("%1$s|%3$d|%7$M|%8$d|%9$s|%%");
    record->base.key = -5;
    try {
        eh_throw(EH_ERROR_CHAIN ":Unregistered::Thing", record);
    } catch (const Exception &e) {
        EXPECT_EQ(e.type(), nullptr);
        ASSERT_NE(e.error_record(), nullptr);
        EXPECT_STREQ(e.what(), CHILD_CHAIN "|-5|inner text|%8$d|%9$s|%");
    }

    // A chain outside the runtime's types: its text is the chain.
    try {
        eh_throw("Elsewhere:Thing", nullptr);
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(), "Elsewhere:Thing");
        EXPECT_EQ(e.error_record(), nullptr);
        EXPECT_EQ(e.message(), nullptr);
        EXPECT_EQ(e.number(), 0);
    }
}

int released = 0;
std::vector<int> release_order;
void release_counter(void *object) {
    ++released;
    release_order.push_back(*static_cast<int *>(object));
}

// C-style callbacks for the adapter.
void raising_callback(void *context) {
    ex_delegate(context, release_counter);
    vaThrow("Korvo2Catalog", 11, "Cannot open the file %1$s.\n", "/no/such");
}
void quiet_callback(void *context) {
    ex_delegate(context, release_counter);
}
void foreign_callback(void *) {
    throw std::runtime_error("not ours: %1$s");
}

TEST(CatchAdapter, ReturnsWhatTheCallbackRaisedAfterReleasingItsObjects) {
    int token = 1;
    released = 0;
    EhException *caught = eh_catch_call(raising_callback, &token);
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(released, 1);
    EXPECT_STREQ(eh_exception_catalog(caught), "Korvo2Catalog");
    EXPECT_EQ(eh_exception_number(caught), 11);
    ASSERT_EQ(eh_exception_arguments(caught)->length, 1u);
    EXPECT_STREQ(eh_exception_arguments(caught)->buffer[0], "/no/such");
    EXPECT_STREQ(eh_exception_text(caught), "Cannot open the file /no/such.\n");
    EXPECT_STREQ(eh_exception_type_chain(caught), EH_ERROR_CHAIN);
    EXPECT_TRUE(eh_exception_is_a(caught, "Exception:UserException"));
    EXPECT_FALSE(eh_exception_is_a(caught, EH_ERROR_CHAIN ":Vem_Korvo2::ExKorvoException"));
    EXPECT_EQ(eh_exception_type(caught), TC_ExErrorMsg);
    EXPECT_NE(eh_exception_record(caught), nullptr);
    // Raised again, it reaches C++ code as itself.
    try {
        eh_exception_rethrow(caught);
    } catch (const Exception &e) {
        EXPECT_EQ(e.number(), 11);
    }

    EXPECT_EQ(eh_catch_call(quiet_callback, &token), nullptr);
    EXPECT_EQ(released, 2);

    EhException *foreign = eh_catch_call(foreign_callback, nullptr);
    ASSERT_NE(foreign, nullptr);
    EXPECT_STREQ(eh_exception_text(foreign), "not ours: %1$s");
    EXPECT_TRUE(eh_exception_is_a(foreign, EH_ERROR_CHAIN));
    eh_exception_free(foreign);
    eh_exception_free(nullptr);
    EXPECT_EQ(eh_exception_text(nullptr), nullptr);
}

TEST(Frames, ReleaseDelegatedObjectsLatestFirstOnEveryPath) {
    int one = 1, two = 2, three = 3, kept = 4;
    released = 0;
    release_order.clear();
    {
        korvo::rt::Frame outer;
        ex_delegate(&one, release_counter);
        try {
            korvo::rt::Frame inner;
            ex_delegate(&two, release_counter);
            ex_delegate(&kept, release_counter);
            ex_delegate(&three, release_counter);
            EXPECT_EQ(ex_undelegate(&kept, nullptr), 1);
            vaThrow(nullptr, 1, "fail");
        } catch (const Exception &) {
            EXPECT_EQ(release_order, (std::vector<int>{3, 2}));
        }
        EXPECT_EQ(released, 2);
    }
    EXPECT_EQ(release_order, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(ex_undelegate(&kept, nullptr), 0);
    EXPECT_EQ(ex_delegate(nullptr, release_counter), 0);
    EXPECT_EQ(ex_delegate(&one, nullptr), 0);

    // With no frame open, an object waits for its thread to end.
    int orphan = 5;
    std::thread([&] { ex_delegate(&orphan, release_counter); }).join();
    EXPECT_EQ(release_order.back(), 5);
}

TEST(Environment, RecordsTheLatestFailureUntilTakenOrCleared) {
    Env env{};
    vaRaiseException(&env, nullptr, -1, "Marshalling error (%1$d)", 3);
    vaRaiseException(&env, nullptr, -1, "Marshalling error (%1$d)", 4);
    ASSERT_NE(env.failed, 0);
    EXPECT_STREQ(eh_exception_text(env.exception), "Marshalling error (4)");
    try {
        ev_to_exception(&env);
        FAIL() << "nothing raised";
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(), "Marshalling error (4)");
        EXPECT_EQ(e.number(), -1);
    }
    EXPECT_EQ(env.failed, 0);
    EXPECT_EQ(env.exception, nullptr);
    vaRaiseException(nullptr, nullptr, -1, "ignored");
    ev_to_exception(nullptr);
    env_clear(nullptr);
}

}  // namespace

extern "C" {
extern int c_released;
void c_raise_through(const char *path);
int c_catch_number(const char *path, char *text, size_t size);
}

namespace {

TEST(CatchAdapter, ServesCodeWrittenInC) {
    c_released = 0;
    char text[128];
    EXPECT_EQ(c_catch_number("/etc/none", text, sizeof text), 11);
    EXPECT_STREQ(text, "Cannot open the file /etc/none.\n");
    EXPECT_EQ(c_released, 1);
    try {
        korvo::rt::Frame frame;
        c_raise_through("/x");
    } catch (const Exception &e) {
        EXPECT_EQ(e.number(), 11);
        EXPECT_EQ(c_released, 2);  // the frame released the C code's block
    }
}

}  // namespace
