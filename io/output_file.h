// The one way every writer opens its output: never through a symbolic link, never over a
// file being read, and never leaving a partial file behind. The bytes go to a fresh
// temporary file in the target's folder, and only a temporary that was written, flushed
// to disk and closed without an error is renamed over the target.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <wx/string.h>

// True when `path` is a file of the open data set (the file itself or a member of its
// numbered sequence): saving never writes over what is being read.
bool is_source_file(const wxString& path);

// Why `target` may not be written, or empty when it may: it is a symbolic link or another
// file that is not a regular one (a device, a fifo, a folder), or it is
// (by name, or by device and inode through another name) `source`, the open data set's
// file or one of its members, or the reference image, or the user may not write it.
wxString output_refusal(const std::string& target, const std::string& source = std::string());

class output_file {
public:
    output_file() = default;
    // An output that was not committed is removed; the target stays as it was.
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    // Refuses as output_refusal does, else creates the temporary (exclusively, never
    // through a link). False, with a warning, when nothing can be written.
    bool open(const std::string& target, const std::string& source = std::string());
    // Writes all of `bytes` (at the current end, or at offset `at`). After the first
    // failure nothing more is written and commit() fails with that reason.
    bool write(const void* data, size_t bytes);
    bool write_at(const void* data, size_t bytes, off_t at);
    // A failure found by a library writing through fd(); errno 0 counts as EIO.
    void fail(int error);
    bool failed() const { return error_ != 0; }

    int fd() const { return fd_; }
    const std::string& temporary() const { return temporary_; }

    // Flushes to disk, closes and renames the temporary over the target. False, with a
    // warning that gives the reason, when any step failed: the temporary is removed.
    bool commit();

private:
    void discard();
    std::string target_, temporary_;
    int fd_ = -1;
    int error_ = 0;
    off_t end_ = 0;
};

// Writes `bytes` to `target` through an output_file.
bool write_output_file(const std::string& target, const void* data, size_t bytes,
                       const std::string& source = std::string());
