// Whole files mapped read-only into memory.
#pragma once

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// A read-only view of a whole file; every access is checked against `size`.
class mapped_file {
public:
    explicit mapped_file(const std::string& path)
    {
        // Non-blocking: a fifo given as the file is refused below instead of waiting for a writer.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            // Files up to a few hundred megabytes are mapped in one go: one page fault per
            // 4 kB costs more than reading them. Larger (multi-frame) files are faulted in as
            // the wanted frame is read.
            const int populate = st.st_size <= (256 << 20) ? MAP_POPULATE : 0;
            void* p = ::mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE | populate, fd,
                             0);
            if (p != MAP_FAILED) {
                data_ = static_cast<const uint8_t*>(p);
                size_ = (size_t)st.st_size;
            }
        }
        opened_ = true;
        ::close(fd);
    }
    ~mapped_file()
    {
        if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
    }
    mapped_file(const mapped_file&) = delete;
    mapped_file& operator=(const mapped_file&) = delete;
    bool opened() const { return opened_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool opened_ = false;
};
