#include "config/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

MappedFile::MappedFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        void* at = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (at != MAP_FAILED) {
            mapping = at;
            data = static_cast<const char*>(at);
            size = static_cast<size_t>(info.st_size);
            good = true;
            close(fd);
            return;
        }
    }
    // Not a regular file, empty, or not mappable: read it.
    copy.resize(65536);
    size_t used = 0;
    for (;;) {
        if (used == copy.size()) copy.resize(2 * copy.size());
        const ssize_t got = read(fd, &copy[used], copy.size() - used);
        if (got > 0) {
            used += static_cast<size_t>(got);
        } else if (got == 0) {
            good = true;
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    close(fd);
    copy.resize(good ? used : 0);
    data = copy.data();
    size = copy.size();
}

MappedFile::~MappedFile() {
    if (mapping) munmap(mapping, size);
}
