// Property encoding and the three property-file layouts.
#include "properties/property_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kes/host_file.hpp"
#include "kes/kes_replace.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

using korvo::helpers::raise_message;
using korvo::rt::MgPtr;

namespace {

constexpr TypeCode kProperties = TC_Vem_Korvo2__sequence_Property_Properties;
constexpr uint32_t kMarker = 1;

// Header sizes of the plain and marked layouts.
constexpr uint32_t kPlainHeader = 4;
constexpr uint32_t kMarkedHeader = 8;

// The encoded bytes of a list, released when the writer ends.
struct Encoded {
    MgPtr<uint8_t> data;
    uint32_t length = 0;

    explicit Encoded(const Properties *list) {
        void *bytes = nullptr;
        properties_encode(kProperties, list, &bytes, &length);
        data.reset(static_cast<uint8_t *>(bytes));
    }
};

struct FileDelete {
    void operator()(FileRecord *file) const noexcept {
        if (file != nullptr)
            file_delete(file);
    }
};
using FilePtr = std::unique_ptr<FileRecord, FileDelete>;

void put_le32(uint8_t *out, uint32_t n) {
    out[0] = uint8_t(n), out[1] = uint8_t(n >> 8), out[2] = uint8_t(n >> 16),
    out[3] = uint8_t(n >> 24);
}
void put_be32(uint8_t *out, uint32_t n) {
    out[0] = uint8_t(n >> 24), out[1] = uint8_t(n >> 16), out[2] = uint8_t(n >> 8),
    out[3] = uint8_t(n);
}
uint32_t get_le32(const uint8_t *in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}
uint32_t get_be32(const uint8_t *in) {
    return uint32_t(in[0]) << 24 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 8 | uint32_t(in[3]);
}

void write_all(FileRecord *file, const uint8_t *bytes, uint32_t length) {
    if (file != nullptr && length > INT32_MAX)
        raise_message(KORVO_MSG_FILE_WRITE_FAILED, file->name, static_cast<int32_t>(length));
    file_write(file, bytes, static_cast<int32_t>(length));
}

// Reads one 4-byte word of a header. A word that cannot be read whole, by a
// short file or a failed read, raises message 19 with the length read so far
// (none: the header's length is the word being read, or the next one) and
// the read's errno.
void read_word(FileRecord *file, uint8_t *word) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_READ_NULL_HANDLE);
    errno = 0;
    size_t done = 0;
    while (done < 4) {
        const int64_t got = korvo::host::ReadFile(file->fd, word + done, 4 - done);
        if (got <= 0)
            raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, 0, got < 0 ? errno : 0);
        done += static_cast<size_t>(got);
    }
}

// The size of the open file in bytes; message 19 when it cannot be had.
uint64_t file_size(const FileRecord *file, uint32_t length) {
    korvo::host::FileInfo status;
    if (!korvo::host::StatFile(file->fd, &status))
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, length, errno);
    return static_cast<uint64_t>(status.size);
}

// Reads `length` bytes (all of them, or message 19 unless `partial`) and
// decodes them into *list.
void read_body(Properties *list, FileRecord *file, uint32_t length, bool partial) {
    if (length > INT32_MAX)
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, length, EFBIG);
    MgPtr<uint8_t> body(static_cast<uint8_t *>(mg_malloc(length != 0 ? length : 1)));
    if (body == nullptr)
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, length, ENOMEM);
    errno = 0;
    const int32_t got = file_read(file, body.get(), static_cast<int32_t>(length));
    if (got != static_cast<int32_t>(length) && !partial)
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, length, errno);
    properties_decode(kProperties, body.get(), static_cast<uint32_t>(got), list);
}

// Reads a list whose header (of `header` bytes) has just been read: the
// file must be exactly the header and `length` bytes long.
void read_checked(Properties *list, FileRecord *file, uint32_t length, uint32_t header) {
    errno = 0;
    if (file_size(file, length) != uint64_t(length) + header)
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, length, errno);
    read_body(list, file, length, false);
}

enum class Layout { kPlain, kMarked, kBare };

// Saves the list in `layout` by replacing the file at `path` in one step
// (kes_replace.hpp), so that a failure leaves the old file as it was. The
// list is encoded before anything on disk is touched.
void save(const Properties *list, const char *path, Layout layout) {
    if (path == nullptr)
        raise_message(KORVO_MSG_FILE_CREATE_FAILED, path, EFAULT);
    const Encoded encoded(list);
    uint8_t header[kMarkedHeader];
    uint32_t header_length = 0;
    if (layout == Layout::kPlain) {
        put_le32(header, encoded.length);
        header_length = kPlainHeader;
    } else if (layout == Layout::kMarked) {
        put_be32(header, kMarker);
        put_be32(header + 4, encoded.length);
        header_length = kMarkedHeader;
    }
    korvo::kes::FileReplacement file(path);
    const bool header_written = file.write(header, header_length);
    if (header_written && file.write(encoded.data.get(), encoded.length) && file.commit())
        return;
    if (file.failed() == korvo::kes::FileReplacement::Stage::kWrite)
        raise_message(KORVO_MSG_FILE_WRITE_FAILED, path,
                      header_written ? encoded.length : header_length);
    raise_message(KORVO_MSG_FILE_CREATE_FAILED, path, file.error());
}

// Opens the file at `path` for reading without blocking (a FIFO would wait
// for a writer in open) and keeps it only when it is a regular file; message
// 11 (path) otherwise. Where the host replaces a held file in two steps, a
// save replacing the file at that moment leaves the path empty: the file
// then opened is the one the save is putting in place (kes/host_replace.hpp).
FilePtr open_regular(const char *path) {
    using namespace korvo::host;
    const int fd = path != nullptr ? OpenFileOrReplacement(path, kOpenRead | kOpenNonBlock) : -1;
    if (fd < 0)
        raise_message(KORVO_MSG_FILE_OPEN_FAILED, path);
    // The record file_open would make: the path as given, and the descriptor.
    FilePtr file(static_cast<FileRecord *>(mg_calloc(1, sizeof(FileRecord))));
    if (file == nullptr)
        CloseFile(fd);
    else
        file->fd = fd;
    if (file == nullptr || (file->name = mg_strdup(path)) == nullptr)
        raise_message(KORVO_MSG_FILE_OPEN_FAILED, path);
    FileInfo status;
    if (!StatFile(file->fd, &status) || status.kind != FileKind::kRegular)
        raise_message(KORVO_MSG_FILE_OPEN_FAILED, path);
    MakeBlocking(file->fd);
    return file;
}

template <typename Reader>
void load(Properties *list, const char *path, Reader read) {
    FilePtr file(open_regular(path));
    read(list, file.get());
}

}  // namespace

extern "C" {

void properties_encode(TypeCode type, const void *value, void **data, uint32_t *length) {
    AdrBuffer *buffer = adr_init_encode_buffer(nullptr, 0);
    if (buffer == nullptr)
        raise_message(KORVO_MSG_ENCODE_FAILED, ADR_E_NO_MEMORY);
    if (!marshal_item(buffer, type, const_cast<void *>(value))) {
        const int32_t error = buffer->error;
        adr_free_buf(buffer);
        raise_message(KORVO_MSG_ENCODE_FAILED, error);
    }
    if (data == nullptr || length == nullptr) {
        adr_free_buf(buffer);
        raise_message(KORVO_MSG_ENCODE_FAILED, ADR_E_BAD_ARGUMENT);
    }
    *data = buffer->data;
    *length = buffer->length;
    mg_free(buffer);  // the encoded bytes stay the caller's
}

void properties_decode(TypeCode type, const void *data, uint32_t length, void *value) {
    if (data == nullptr && length != 0)
        raise_message(KORVO_MSG_DECODE_FAILED, ADR_E_BAD_ARGUMENT);
    AdrBuffer *buffer = adr_init_decode_buffer(data, length);
    if (buffer == nullptr)
        raise_message(KORVO_MSG_DECODE_FAILED, ADR_E_NO_MEMORY);
    int32_t error = marshal_item(buffer, type, value) ? ADR_OK : buffer->error;
    if (error == ADR_OK && buffer->position != length) {
        // One value must fill the bytes: what is left over is not part of it.
        vem_free_generic(value, type);
        std::memset(value, 0, type->size);
        error = ADR_E_BAD_LENGTH;
    }
    adr_free_buf(buffer);
    if (error != ADR_OK)
        raise_message(KORVO_MSG_DECODE_FAILED, error);
}

void properties_write(const Properties *list, FileRecord *file) {
    const Encoded encoded(list);
    uint8_t header[kPlainHeader];
    put_le32(header, encoded.length);
    write_all(file, header, sizeof header);
    write_all(file, encoded.data.get(), encoded.length);
}

void properties_write_improved(const Properties *list, FileRecord *file) {
    const Encoded encoded(list);
    uint8_t header[kMarkedHeader];
    put_be32(header, kMarker);
    put_be32(header + 4, encoded.length);
    write_all(file, header, sizeof header);
    write_all(file, encoded.data.get(), encoded.length);
}

void properties_read(Properties *list, FileRecord *file) {
    uint8_t word[4];
    read_word(file, word);
    read_checked(list, file, get_le32(word), kPlainHeader);
}

void properties_read_improved(Properties *list, FileRecord *file) {
    uint8_t word[4];
    read_word(file, word);  // the marker: read, not checked
    read_word(file, word);
    read_checked(list, file, get_be32(word), kMarkedHeader);
}

void properties_read_without_len(Properties *list, FileRecord *file) {
    if (file == nullptr)
        raise_message(KORVO_MSG_FILE_READ_NULL_HANDLE);
    const uint64_t size = file_size(file, 0);
    if (size > INT32_MAX)
        raise_message(KORVO_MSG_FILE_READ_FAILED, file->name, static_cast<uint32_t>(size), EFBIG);
    read_body(list, file, static_cast<uint32_t>(size), true);
}

void properties_save(const Properties *list, const char *path) {
    save(list, path, Layout::kPlain);
}

void properties_save_improved(const Properties *list, const char *path) {
    save(list, path, Layout::kMarked);
}

void properties_save_without_len(const Properties *list, const char *path) {
    save(list, path, Layout::kBare);
}

void properties_load(Properties *list, const char *path) {
    load(list, path, properties_read);
}

void properties_load_improved(Properties *list, const char *path) {
    load(list, path, properties_read_improved);
}

void properties_load_without_len(Properties *list, const char *path) {
    load(list, path, properties_read_without_len);
}
}
