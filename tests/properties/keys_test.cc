// The key strings are shared with every other program of the service, so the
// ones that carry a twist are pinned here.
#include <gtest/gtest.h>

#include <cstring>

#include "properties/korvo_keys.h"

TEST(Keys, SegmentAndMessageShareTheirCommonKeys) {
    EXPECT_STREQ(SEGMENT_ID_KEY, MESSAGE_ID_KEY);
    EXPECT_STREQ(SEGMENT_SIZE_KEY, MESSAGE_SIZE_KEY);
    EXPECT_STREQ(SEGMENT_IS_RESULT_KEY, MESSAGE_IS_RESULT_KEY);
    EXPECT_STREQ(SEGMENT_DATA_PATH_KEY, MESSAGE_DATA_PATH_KEY);
    EXPECT_STREQ(SEGMENT_CDS_USERNAME, MESSAGE_CDS_USERNAME_KEY);
}

TEST(Keys, SpellingsThatAreEasyToGetWrong) {
    EXPECT_STREQ(MESSAGE_DISPLAY_DEFERRED_KEY, "display_DEFERRED");
    EXPECT_STREQ(SEGMENT_DELETE_AT_SOURCE_KEY, "del_at_src");
    EXPECT_STREQ(RESULT_SENDING_TIME_KEY, "r_et");
    EXPECT_STREQ(MESSAGE_CONTROL_TARGET_KEY, "cntl_target_oid");
    EXPECT_STREQ(MESSAGE_INVALID_DIST_ID, "<invalid id>");
}

TEST(Keys, EscalationKeysFollowTheirRule) {
    const char *const messages[] = {MESSAGE_ESCALATE_MSG_KEY_0, MESSAGE_ESCALATE_MSG_KEY_1,
                                    MESSAGE_ESCALATE_MSG_KEY_2, MESSAGE_ESCALATE_MSG_KEY_3,
                                    MESSAGE_ESCALATE_MSG_KEY_4, MESSAGE_ESCALATE_MSG_KEY_5,
                                    MESSAGE_ESCALATE_MSG_KEY_6, MESSAGE_ESCALATE_MSG_KEY_7,
                                    MESSAGE_ESCALATE_MSG_KEY_8, MESSAGE_ESCALATE_MSG_KEY_9};
    const char *const dates[] = {MESSAGE_ESCALATE_DATE_KEY_0, MESSAGE_ESCALATE_DATE_KEY_1,
                                 MESSAGE_ESCALATE_DATE_KEY_2, MESSAGE_ESCALATE_DATE_KEY_3,
                                 MESSAGE_ESCALATE_DATE_KEY_4, MESSAGE_ESCALATE_DATE_KEY_5,
                                 MESSAGE_ESCALATE_DATE_KEY_6, MESSAGE_ESCALATE_DATE_KEY_7,
                                 MESSAGE_ESCALATE_DATE_KEY_8, MESSAGE_ESCALATE_DATE_KEY_9};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(messages[i], "escalate_msg." + std::to_string(i));
        EXPECT_EQ(dates[i], "escalate_date." + std::to_string(i));
    }
}
