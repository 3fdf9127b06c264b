// The catalog is an interface: other programs of the service raise and show
// its messages by number, so its shape and every one of its texts are pinned.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "properties/errors/korvo_catalog.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"

namespace {

constexpr uint64_t kFnvBasis = 14695981039346656037ull;

uint64_t Fnv1a(const char *text, uint64_t hash = kFnvBasis) {
    for (; *text != '\0'; ++text)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 1099511628211ull;
    return hash;
}

unsigned Fold16(uint64_t hash) {
    return static_cast<unsigned>((hash ^ (hash >> 16) ^ (hash >> 32) ^ (hash >> 48)) & 0xFFFF);
}

TEST(Catalog, MessagesTheLibraryRaises) {
    const struct {
        int number;
        const char *text;
    } raised[] = {
        // clang-format off
        {KORVO_MSG_DIR_CREATE_NULL_PATH, "Cannot create the directory because the path name is NULL.\n"},
        {KORVO_MSG_DIR_CREATE_FAILED, "Cannot create the directory %1$s.\n"},
        {KORVO_MSG_FILE_OPEN_FAILED, "Cannot open the file %1$s.\n"},
        {KORVO_MSG_FILE_CREATE_FAILED, "Cannot create the file %1$s. The error code is %2$d.\n"},
        {KORVO_MSG_FILE_CLOSE_NULL_HANDLE, "Cannot close the file because the file handle is NULL.\n"},
        {KORVO_MSG_FILE_CLOSE_FAILED, "Cannot close the file %1$s.\n"},
        {KORVO_MSG_FILE_REMOVE_NULL_HANDLE, "Cannot remove the file because the file handle is NULL.\n"},
        {KORVO_MSG_FILE_REMOVE_FAILED, "Cannot remove the file %1$s.\n"},
        {KORVO_MSG_FILE_DELETE_NULL_HANDLE, "Cannot delete the file because the file handle is NULL.\n"},
        {KORVO_MSG_FILE_READ_NULL_HANDLE, "Cannot read from the file because the file handle is NULL.\n"},
        {KORVO_MSG_FILE_READ_FAILED, "Cannot read from file %1$s. The number of bytes to read was %2$d and the error code is %3$d.\n"},
        {KORVO_MSG_FILE_WRITE_NULL_HANDLE, "Cannot write to the file because the file handle is NULL.\n"},
        {KORVO_MSG_FILE_WRITE_FAILED, "Cannot write to the file %1$s. The number of bytes to write = %2$d.\n"},
        {KORVO_MSG_FILE_SEEK_NULL_HANDLE, "Cannot seek the file because the file handle is NULL.\n"},
        {KORVO_MSG_FILE_SEEK_FAILED, "A seek operation failed on the file %1$s. The error code is errno=%2$d.\n"},
        {KORVO_MSG_FILE_STAT_FAILED, "Failed to get the file status for the file %1$s.\n"},
        {KORVO_MSG_FILE_ACCESS_FAILED, "Failed to access the file %1$s with the mode %2$d.\n"},
        {KORVO_MSG_STREAM_CLOSE_BAD_TYPE, "Cannot close the net stream because the specified stream type %1$d is invalid.\n"},
        {KORVO_MSG_MODIFIED_TOC_NULL, "Cannot save the modified TOC because the TOC pointer is NULL.\n"},
        {KORVO_MSG_PATH_CLONE_NULL, "Cannot clone a path name that is NULL.\n"},
        {KORVO_MSG_PATH_APPEND_NULL, "Cannot append to a path name that is NULL.\n"},
        {KORVO_MSG_ENCODE_FAILED, "Failed to encode data. The error code is %1$d.\n"},
        {KORVO_MSG_DECODE_FAILED, "Failed to decode data. The error code is %1$d.\n"},
        {KORVO_MSG_PROPERTY_NOT_FOUND, "Unable to find the property associated with the key %1$s.\n"},
        {KORVO_MSG_PROPERTY_WRONG_TYPE, "The wrong property type was specified for the key %1$s.\n"},
        {KORVO_MSG_SEQUENCE_BAD_INDEX, "The item was not replaced in the sequence. The index %1$d is not within the sequence length %2$d.\n"},
        {KORVO_MSG_NOT_IN_DEPOT, "%1$s was not found in the depot.\n"},
        {KORVO_MSG_SEGMENT_NOT_FOUND, "The segment %1$s^%2$s required for this distribution could not be found.\n"},
        {KORVO_MSG_CDS_COMMAND_FAILED, "The CDS command '%1$s' with CDS handle '%2$u' failed with a return of %3$d."},
        {KORVO_MSG_CDS_COMMAND_TIMED_OUT, "The CDS command '%1$s' with CDS handle '%2$u' timed out after %3$d seconds."},
        {KORVO_MSG_CDS_DEPOT_BUSY, "The CDS package '%1$s' can not be retrieved due to the depot server being too busy.  Retry in %2$d seconds."},
        {KORVO_MSG_CDS_SIZE_STOPPED, "The get size of CDS package '%1$s' was stopped with a '%2$s' command."},
        // clang-format on
    };
    for (const auto &message : raised)
        EXPECT_STREQ(Korvo2Catalog[message.number], message.text);
}

// The text message `number` reads raised with these arguments.
std::string Raised(int32_t number, int32_t command, const char *first, const char *second) {
    try {
        vaThrow(Korvo2Catalog[0], number, Korvo2Catalog[number], command, first, second);
    } catch (const korvo::rt::Exception &e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Messages 60 and 61 are the texts whose placeholders appear out of number
// order. Raised with the arguments in the order the placeholders appear, they
// read right.
TEST(Catalog, MessagesWithPlaceholdersOutOfOrderReadRight) {
    EXPECT_EQ(Raised(60, 7, "endpoint-3", "dist-42"),
              "The command 7 was not executed for target endpoint-3 because the distribution "
              "dist-42 could not be found.\n");
    EXPECT_EQ(Raised(61, 5, "dist-42", "endpoint-3"),
              "The 5 command would not be executed for the distribution dist-42 because the "
              "target endpoint-3 is invalid.\n");
}

// The catalog is its name, the messages, then NULL. Guards every text,
// spacing and typos included, against accidental edits: a 16-bit digest per
// message names the message that changed, the 64-bit digest of the whole
// table catches what the short ones might miss.
TEST(Catalog, NoTextChanged) {
    static_assert(KORVO_CATALOG_WORDS == 213 && KORVO_CATALOG_MESSAGES == 211);
    EXPECT_STREQ(Korvo2Catalog[0], "Korvo2Catalog");
    EXPECT_EQ(Korvo2Catalog[KORVO_CATALOG_WORDS - 1], nullptr);
    const std::string pinned =
        "c279f82ad1b9132c270457ca7d601341b34285d9cfe68c6de40e078c1250fcab885e283130cb6c0622ac1a8d"
        "35ecb84901e3c69be7541ec7f9fe22d2276b2d1d91e3167a773761f217dd06fdf3b3169d61dd5eb8766f26ef"
        "a7e1a93d64ce781d43a70e2847eac8fb2dcdd2bfec83273eeeda55cfff63444e46a64cb5a34d4ba4eb73d2d2"
        "f6010ae268c12f8245e538a6b374cc54f22a25f1d907067a5433759160353f9ea340ac015e3e3be0c651007a"
        "1bee64a246597985d1a441723ea61fe258015b4c7eac62acb80b1d5b55a99a6c71db5ca7a54b14db762e090f"
        "56e190de9b43b2ccd97d55f320749f220daeefd9e06c76e43fa3b86dc409c1a225c4129d24b64e9088cc41c2"
        "dc53b9961238688185bfbd13ea0760c1367b3e3d3d128f540fa1b89491f0bae35536c2d1581a6d41adde4fdf"
        "509f970dd8e72b291bd33e0be843447c8d98521cb409143db54f87e9d24fb94d001bafbee01016f6a19930a3"
        "51807a6d25149528de12905505cf119ec3c4f17470681a1b5d2931d9d80cd4c3cc45bf271a22c300c49769bf"
        "077dc73c5ead347b3ca0173b861d48b180f2fdacfbbb5bc53769";
    ASSERT_EQ(pinned.size(), 4u * KORVO_CATALOG_MESSAGES);
    uint64_t whole = kFnvBasis;
    for (int n = 0; n <= KORVO_CATALOG_MESSAGES; ++n) {
        ASSERT_NE(Korvo2Catalog[n], nullptr) << "word " << n;
        whole = Fnv1a(Korvo2Catalog[n], whole) * 1099511628211ull;  // the terminator, hashed as 0
        if (n == 0)
            continue;
        char digest[5];
        std::snprintf(digest, sizeof digest, "%04x", Fold16(Fnv1a(Korvo2Catalog[n])));
        EXPECT_EQ(pinned.substr(4 * (n - 1), 4), digest)
            << "message " << n << " changed: \"" << Korvo2Catalog[n] << "\"";
    }
    EXPECT_EQ(whole, 0xc1e8964e98a9668bull);
}

}  // namespace
