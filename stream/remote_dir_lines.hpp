// The "remote.dir" list: the directories, one per line, that remote streams
// search, in the file "remote.dir" of the endpoint's data directory
// (QEL_DATDIR).
//
// A line ends at its line feed (a carriage return before it goes too, so a
// list written with CR LF line ends reads the same); a line that begins
// with '#' is a comment. Lines are read into a 1024-byte buffer: a line
// longer than 1023 bytes is skipped whole, never read in pieces that could
// pass for directories of their own.
//
// Threads: a reader is used by one thread at a time. Nothing here needs
// more than the C library, so the fuzz target compiles it in.
#pragma once

#include <cstdio>
#include <string>

namespace korvo::stream {

// The directory lines of an open list, in file order.
class DirectoryLines {
  public:
    explicit DirectoryLines(std::FILE *file) : file_(file) {}
    // The next directory line (blank lines included); false at the end of
    // the file or on a read error.
    bool next(std::string &line);
    // Lines skipped because they were longer than the buffer.
    int skipped() const { return skipped_; }

  private:
    // Reads on to the end of the current line.
    void skip_rest();

    std::FILE *file_;
    int skipped_ = 0;
};

}  // namespace korvo::stream
