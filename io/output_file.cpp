#include "io/output_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/filename.h>
#include <wx/log.h>

#include "core/record.h"
#include "core/path_buffer.h"
#include "io/sequence_name.h"

static wxString wx_path(const std::string& path) { return path_text(path); }

// The absolute, normalised spelling of a path.
static std::string absolute_path(const wxString& path)
{
    wxFileName name(path);
    name.MakeAbsolute();
    return native_path(name.GetFullPath());
}

bool is_source_file(const wxString& path)
{
    if (info.file_name.empty()) return false;
    const wxFileName target(path);
    if (target.SameAs(wxFileName(info.file_name))) return true;
    if ((info.file_type == FILE_IMAGE || info.file_type == FILE_DICOM_NUMBERED) && info.frames > 1) {
        // Members differ from the opened file only in the number field: compare the text
        // around it, then the member of that number (one test however long the series).
        const std::string name = absolute_path(info.file_name), t = absolute_path(path);
        sequence_field field;
        if (!find_sequence_field(name, field)) return false;
        const std::string head = name.substr(0, field.start), tail = name.substr(field.end);
        if (t.size() < head.size() + tail.size() || t.compare(0, head.size(), head) != 0 ||
            t.compare(t.size() - tail.size(), tail.size(), tail) != 0)
            return false;
        const std::string middle = t.substr(head.size(), t.size() - head.size() - tail.size());
        if (middle.empty() || middle[0] < '0' || middle[0] > '9') return false;
        const long k = std::strtol(middle.c_str(), nullptr, 10);
        return k >= info.first_frame && k < (long)info.first_frame + info.frames &&
               sequence_file_name(name, field, k) == t;
    }
    return false;
}

static bool same_file(const struct stat& a, const std::string& other)
{
    struct stat b;
    return !other.empty() && ::stat(other.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

wxString output_refusal(const std::string& target, const std::string& source)
{
    struct stat st;
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    // Writing through a link would change whatever it points at, a source file perhaps.
    if (exists && S_ISLNK(st.st_mode))
        return wxString::Format("Not writing %s: it is a symbolic link.", wx_path(target));
    // A device or fifo would be replaced by the renamed file, not written.
    if (exists && !S_ISREG(st.st_mode))
        return wxString::Format("Not writing %s: it is not a regular file.", wx_path(target));
    const std::string open_file(native_path(info.file_name)), reference(native_path(info.ref_file_name));
    const bool read_here = (exists && (same_file(st, source) || same_file(st, open_file) ||
                                       same_file(st, reference))) ||
                           is_source_file(wx_path(target));
    if (read_here) return wxString::Format("Not writing %s: it is a file being read.", wx_path(target));
    // The rename would replace a file the user may not write.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return wxString::Format("Not writing %s: %s.", wx_path(target), std::strerror(errno));
    return wxString();
}

output_file::~output_file() { discard(); }

void output_file::discard()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool output_file::open(const std::string& target, const std::string& source)
{
    discard();
    error_ = 0;
    end_ = 0;
    target_ = target;
    const wxString refusal = output_refusal(target, source);
    if (!refusal.empty()) {
        wxLogWarning("%s", refusal);
        return false;
    }
    // A hidden name beside the target: the same file system, so the rename is atomic,
    // and no loader takes it for a member of a numbered sequence.
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; attempt++) {
        const std::string candidate = folder + "." + name + "." + std::to_string(::getpid()) + "." +
                                      std::to_string(serial++) + ".part";
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) temporary_ = candidate;
        else if (errno != EEXIST) break;
    }
    if (fd_ < 0) {
        error_ = errno ? errno : EIO;
        wxLogWarning("Could not create %s: %s.", wx_path(target), std::strerror(error_));
        return false;
    }
    return true;
}

bool output_file::write_at(const void* data, size_t bytes, off_t at)
{
    if (error_ || fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, p, bytes < (1u << 24) ? bytes : (1u << 24), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        at += n;
        bytes -= (size_t)n;
    }
    if (at > end_) end_ = at;
    return true;
}

bool output_file::write(const void* data, size_t bytes) { return write_at(data, bytes, end_); }

void output_file::fail(int error)
{
    if (!error_) error_ = error ? error : EIO;
}

bool output_file::commit()
{
    if (temporary_.empty()) return false;  // never opened: open() said why
    if (!error_ && ::fsync(fd_) != 0) fail(errno);
    if (fd_ >= 0 && ::close(fd_) != 0) fail(errno);
    fd_ = -1;
    if (!error_ && ::rename(temporary_.c_str(), target_.c_str()) != 0) fail(errno);
    if (error_) {
        wxLogWarning("Could not write %s: %s.", wx_path(target_), std::strerror(error_));
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

bool write_output_file(const std::string& target, const void* data, size_t bytes, const std::string& source)
{
    output_file out;
    if (!out.open(target, source)) return false;
    out.write(data, bytes);
    return out.commit();
}
