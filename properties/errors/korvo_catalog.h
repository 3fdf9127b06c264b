/* The message catalog of korvo: the exported table Korvo2Catalog, whose word 0
 * is the catalog's name, words 1 to 211 the texts of messages 1 to 211, and
 * word 212 NULL. A raise names the catalog (word 0), the message number N and
 * the text of word N as its default text, followed by the message's arguments
 * in placeholder order ("%1$s" a string, "%2$d" a signed and "%2$u" an
 * unsigned 32-bit number). The numbers and the texts are part of the interface:
 * other programs of the service raise and display the same messages by number.
 * The table and its strings are static; nobody frees them.
 *
 * Threads: the table is constant; any thread may read it.
 */
#ifndef KORVO_PROPERTIES_KORVO_CATALOG_H
#define KORVO_PROPERTIES_KORVO_CATALOG_H

#include "runtime/korvo_export.h"

/* Number of words in the table, and number of messages (words 1 to 211). */
#define KORVO_CATALOG_WORDS 213
#define KORVO_CATALOG_MESSAGES 211

/* The messages this library raises itself, with their arguments. */
#define KORVO_MSG_DIR_CREATE_NULL_PATH 9     /* directory creation, no path */
#define KORVO_MSG_DIR_CREATE_FAILED 10       /* (path) */
#define KORVO_MSG_FILE_OPEN_FAILED 11        /* (path) */
#define KORVO_MSG_FILE_CREATE_FAILED 12      /* (path, errno) */
#define KORVO_MSG_FILE_CLOSE_NULL_HANDLE 13  /* file close, no handle */
#define KORVO_MSG_FILE_CLOSE_FAILED 14       /* (path) */
#define KORVO_MSG_FILE_REMOVE_NULL_HANDLE 15 /* file remove, no handle */
#define KORVO_MSG_FILE_REMOVE_FAILED 16      /* (path) */
#define KORVO_MSG_FILE_DELETE_NULL_HANDLE 17 /* file object release, no handle */
#define KORVO_MSG_FILE_READ_NULL_HANDLE 18   /* file read, no handle */
#define KORVO_MSG_FILE_READ_FAILED 19        /* (path, count, errno) */
#define KORVO_MSG_FILE_WRITE_NULL_HANDLE 20  /* file write, no handle */
#define KORVO_MSG_FILE_WRITE_FAILED 21       /* (path, count) */
#define KORVO_MSG_FILE_SEEK_NULL_HANDLE 22   /* file seek, no handle */
#define KORVO_MSG_FILE_SEEK_FAILED 23        /* (path, errno) */
#define KORVO_MSG_FILE_STAT_FAILED 24        /* (path) */
#define KORVO_MSG_FILE_ACCESS_FAILED 25      /* (path, mode) */
#define KORVO_MSG_STREAM_CLOSE_BAD_TYPE 30   /* (stream type) */
#define KORVO_MSG_MODIFIED_TOC_NULL 31       /* modified TOC, no TOC */
#define KORVO_MSG_PATH_CLONE_NULL 32         /* path name clone, no path */
#define KORVO_MSG_PATH_APPEND_NULL 33        /* path name append, no path */
#define KORVO_MSG_ENCODE_FAILED 34           /* (runtime error code) */
#define KORVO_MSG_DECODE_FAILED 35           /* (runtime error code) */
#define KORVO_MSG_PROPERTY_NOT_FOUND 36      /* (key) */
#define KORVO_MSG_PROPERTY_WRONG_TYPE 37     /* (key) */
#define KORVO_MSG_SEQUENCE_BAD_INDEX 39      /* (index, length) */
#define KORVO_MSG_NOT_IN_DEPOT 170           /* (segment) */
#define KORVO_MSG_SEGMENT_NOT_FOUND 182      /* (segment id, version) */
#define KORVO_MSG_CDS_COMMAND_FAILED 203     /* (command, CDS handle, return) */
#define KORVO_MSG_CDS_COMMAND_TIMED_OUT 204  /* (command, CDS handle, seconds) */
#define KORVO_MSG_CDS_DEPOT_BUSY 206         /* (package, seconds) */
#define KORVO_MSG_CDS_SIZE_STOPPED 211       /* (package, command) */

KORVO_BEGIN_DECLS

KORVO_EXPORT extern const char *const Korvo2Catalog[KORVO_CATALOG_WORDS];

KORVO_END_DECLS

#endif
