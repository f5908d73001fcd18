#include "sim/SftpServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "sim/StopSignal.h"
#include "sim/Transcript.h"

namespace {

constexpr size_t maxReadBytes = 65536;
constexpr size_t namesPerReply = 100;
// Open files and directories per session; a client opening more gets an
// error instead of exhausting the device's descriptors.
constexpr size_t maxOpenHandles = 64;

struct Attributes {
    sftp_attributes_struct value;
    explicit Attributes(const struct stat& st) {
        memset(&value, 0, sizeof value);
        value.flags = SSH_FILEXFER_ATTR_SIZE | SSH_FILEXFER_ATTR_UIDGID | SSH_FILEXFER_ATTR_PERMISSIONS |
                      SSH_FILEXFER_ATTR_ACMODTIME;
        value.size = static_cast<uint64_t>(st.st_size);
        value.permissions = st.st_mode;
        value.atime = static_cast<uint32_t>(st.st_atime);
        value.mtime = static_cast<uint32_t>(st.st_mtime);
        value.atime64 = static_cast<uint64_t>(st.st_atime);
        value.mtime64 = static_cast<uint64_t>(st.st_mtime);
    }
    Attributes() { memset(&value, 0, sizeof value); }
};

std::string longName(const std::string& name, const struct stat& st) {
    char mode[11] = "----------";
    if (S_ISDIR(st.st_mode)) mode[0] = 'd';
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (st.st_mode & (0400 >> i)) mode[i + 1] = letters[i];
    char date[32];
    tm local;
    time_t mtime = st.st_mtime;
    localtime_r(&mtime, &local);
    strftime(date, sizeof date, "%b %e %H:%M", &local);
    char text[512];
    snprintf(text, sizeof text, "%s    1 admin    admin    %10llu %s ", mode,
             static_cast<unsigned long long>(st.st_size), date);
    return text + name;
}

std::string handleText(ssh_string handle) {
    if (!handle) return "";
    return std::string(static_cast<const char*>(ssh_string_data(handle)), ssh_string_len(handle));
}

uint32_t statusOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return SSH_FX_NO_SUCH_FILE;
        case EACCES:
        case EPERM:
        case EROFS:
            return SSH_FX_PERMISSION_DENIED;
        default:
            return SSH_FX_FAILURE;
    }
}

}  // namespace

SftpServer::SftpServer(ssh_session session, ssh_channel channel, const VirtualFs& fs, Transcript& transcript,
                       std::string label, const Faults& faults)
    : session_(session),
      channel_(channel),
      fs_(fs),
      transcript_(transcript),
      label_(std::move(label)),
      faults_(faults) {}

SftpServer::~SftpServer() {
    handles_.clear();
    if (sftp_) sftp_server_free(sftp_);
}

bool SftpServer::run(const StopSignal& stop) {
    sftp_ = sftp_server_new(session_, channel_);
    if (!sftp_ || sftp_server_init(sftp_) < 0) {
        log("sftp start failed");
        return true;
    }
    log("sftp started");
    while (!stop.requested()) {
        int available = ssh_channel_poll_timeout(channel_, 200, 0);
        if (available == SSH_ERROR || available == SSH_EOF) break;
        if (available == 0) continue;
        Message message = sftp_get_client_message(sftp_);
        if (!message) break;
        if (!silent_) handle(message);
        sftp_client_message_free(message);
        if (dropped_) return false;
    }
    log("sftp ended");
    return true;
}

void SftpServer::handle(Message message) {
    switch (sftp_client_message_get_type(message)) {
        case SSH_FXP_OPEN:
            open(message);
            break;
        case SSH_FXP_CLOSE:
            close(message);
            break;
        case SSH_FXP_READ:
            read(message);
            break;
        case SSH_FXP_WRITE:
            write(message);
            break;
        case SSH_FXP_LSTAT:
            stat(message, false);
            break;
        case SSH_FXP_STAT:
            stat(message, true);
            break;
        case SSH_FXP_FSTAT:
            fstat(message);
            break;
        case SSH_FXP_SETSTAT:
        case SSH_FXP_FSETSTAT:
            setstat(message);
            break;
        case SSH_FXP_OPENDIR:
            opendir(message);
            break;
        case SSH_FXP_READDIR:
            readdir(message);
            break;
        case SSH_FXP_REMOVE:
            remove(message);
            break;
        case SSH_FXP_MKDIR:
            mkdir(message);
            break;
        case SSH_FXP_RMDIR:
            rmdir(message);
            break;
        case SSH_FXP_REALPATH:
            realpath(message);
            break;
        case SSH_FXP_RENAME: {
            const char* to = sftp_client_message_get_data(message);
            rename(message, to ? to : "");
            break;
        }
        case SSH_FXP_EXTENDED:
            extended(message);
            break;
        default:
            sftp_reply_status(message, SSH_FX_OP_UNSUPPORTED, "Operation not supported");
    }
}

std::string SftpServer::clientPath(Message message) const {
    const char* name = sftp_client_message_get_filename(message);
    return VirtualFs::normalize(name ? name : "");
}

SftpServer::Open* SftpServer::find(Message message) {
    auto it = handles_.find(handleText(message->handle));
    if (it == handles_.end()) {
        sftp_reply_status(message, SSH_FX_INVALID_HANDLE, "Invalid handle");
        return nullptr;
    }
    return &it->second;
}

void SftpServer::replyErrno(Message message, int error) {
    sftp_reply_status(message, statusOf(error), strerror(error));
}

bool SftpServer::refuseReadOnly(Message message, const std::string& path) {
    if (VirtualFs::writable(path)) return false;
    log("refused: " + path + " is read-only");
    sftp_reply_status(message, SSH_FX_PERMISSION_DENIED, "Permission denied");
    return true;
}

void SftpServer::log(const std::string& text) {
    transcript_.event(label_, text);
}

// Whether the request, as the transcript names it, meets a fault switch:
// it then gets no answer.
bool SftpServer::faultOn(const std::string& request) {
    auto startsWith = [&](const std::string& prefix) {
        return !prefix.empty() && request.compare(0, prefix.size(), prefix) == 0;
    };
    if (startsWith(faults_.silentAfter)) {
        silent_ = true;
        log("fault: silent from now on");
        return true;
    }
    if (startsWith(faults_.closeMidReply)) {
        dropped_ = true;
        log("fault: connection dropped in the middle of the reply");
        return true;
    }
    return false;
}

bool SftpServer::tooManyOpen(Message message) {
    if (handles_.size() < maxOpenHandles) return false;
    sftp_reply_status(message, SSH_FX_FAILURE, "Too many open files");
    return true;
}

void SftpServer::open(Message message) {
    if (tooManyOpen(message)) return;
    std::string path = clientPath(message);
    uint32_t flags = sftp_client_message_get_flags(message);
    bool writing = flags & (SSH_FXF_WRITE | SSH_FXF_CREAT | SSH_FXF_TRUNC | SSH_FXF_APPEND);
    const std::string request = std::string("open ") + path + (writing ? " for writing" : " for reading");
    transcript_.received(label_, request);
    if (faultOn(request)) return;
    if (writing && refuseReadOnly(message, path)) return;
    int mode = (flags & SSH_FXF_READ) && (flags & SSH_FXF_WRITE) ? O_RDWR
               : (flags & SSH_FXF_WRITE)                         ? O_WRONLY
                                                                 : O_RDONLY;
    if (flags & SSH_FXF_CREAT) mode |= O_CREAT;
    if (flags & SSH_FXF_TRUNC) mode |= O_TRUNC;
    if (flags & SSH_FXF_EXCL) mode |= O_EXCL;
    if (flags & SSH_FXF_APPEND) mode |= O_APPEND;
    UniqueFd fd(::open(fs_.hostPath(path).c_str(), mode | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid()) {
        int error = errno;
        replyErrno(message, error);
        transcript_.sent(label_, std::string("error: ") + strerror(error));
        return;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        sftp_reply_status(message, SSH_FX_FAILURE, "Not a regular file");
        transcript_.sent(label_, "error: not a regular file");
        return;
    }
    std::string handle = "f" + std::to_string(nextHandle_++);
    Open& entry = handles_[handle];
    entry.path = path;
    entry.fd = std::move(fd);
    ssh_string text = ssh_string_from_char(handle.c_str());
    sftp_reply_handle(message, text);
    ssh_string_free(text);
}

void SftpServer::close(Message message) {
    auto it = handles_.find(handleText(message->handle));
    if (it == handles_.end()) {
        sftp_reply_status(message, SSH_FX_INVALID_HANDLE, "Invalid handle");
        return;
    }
    if (it->second.written) {
        struct stat st;
        off_t size = ::fstat(it->second.fd.get(), &st) == 0 ? st.st_size : 0;
        log("stored " + it->second.path + " (" + std::to_string(static_cast<long long>(size)) + " bytes)");
    }
    handles_.erase(it);
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::read(Message message) {
    Open* entry = find(message);
    if (!entry) return;
    if (entry->directory) {
        sftp_reply_status(message, SSH_FX_FAILURE, "Is a directory");
        return;
    }
    std::string buffer(std::min<size_t>(message->len, maxReadBytes), '\0');
    ssize_t n;
    do {
        n = ::pread(entry->fd.get(), &buffer[0], buffer.size(), static_cast<off_t>(message->offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        replyErrno(message, errno);
    } else if (n == 0) {
        sftp_reply_status(message, SSH_FX_EOF, "End of file");
    } else {
        sftp_reply_data(message, buffer.data(), static_cast<int>(n));
    }
}

void SftpServer::write(Message message) {
    Open* entry = find(message);
    if (!entry) return;
    if (entry->directory || !message->data) {
        sftp_reply_status(message, SSH_FX_FAILURE, "Not a file");
        return;
    }
    const char* data = static_cast<const char*>(ssh_string_data(message->data));
    size_t left = ssh_string_len(message->data);
    off_t offset = static_cast<off_t>(message->offset);
    // A full disk takes what still fits and refuses the rest.
    bool full = false;
    if (faults_.diskFullBytes >= 0 &&
        static_cast<long long>(offset) + static_cast<long long>(left) > faults_.diskFullBytes) {
        full = true;
        left = offset >= faults_.diskFullBytes ? 0 : static_cast<size_t>(faults_.diskFullBytes - offset);
    }
    while (left > 0) {
        ssize_t n = ::pwrite(entry->fd.get(), data, left, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            replyErrno(message, n < 0 ? errno : EIO);
            return;
        }
        data += n;
        left -= static_cast<size_t>(n);
        offset += n;
    }
    entry->written = true;
    if (full) {
        if (!entry->diskFull)
            log("fault: disk full, " + entry->path + " stops at " + std::to_string(faults_.diskFullBytes) + " bytes");
        entry->diskFull = true;
        sftp_reply_status(message, SSH_FX_FAILURE, "No space left on device");
        return;
    }
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::stat(Message message, bool follow) {
    struct stat st;
    std::string host = fs_.hostPath(clientPath(message));
    if ((follow ? ::stat(host.c_str(), &st) : ::lstat(host.c_str(), &st)) != 0) {
        replyErrno(message, errno);
        return;
    }
    Attributes attributes(st);
    sftp_reply_attr(message, &attributes.value);
}

void SftpServer::fstat(Message message) {
    Open* entry = find(message);
    if (!entry) return;
    struct stat st;
    int rc = entry->directory ? ::stat(fs_.hostPath(entry->path).c_str(), &st) : ::fstat(entry->fd.get(), &st);
    if (rc != 0) {
        replyErrno(message, errno);
        return;
    }
    Attributes attributes(st);
    sftp_reply_attr(message, &attributes.value);
}

// Permissions and size are applied; times and owners are not kept.
void SftpServer::setstat(Message message) {
    sftp_attributes attributes = message->attr;
    std::string path;
    int fd = -1;
    if (sftp_client_message_get_type(message) == SSH_FXP_FSETSTAT) {
        Open* entry = find(message);
        if (!entry) return;
        path = entry->path;
        fd = entry->directory ? -1 : entry->fd.get();
    } else {
        path = clientPath(message);
    }
    if (refuseReadOnly(message, path)) return;
    std::string host = fs_.hostPath(path);
    if (attributes && (attributes->flags & SSH_FILEXFER_ATTR_PERMISSIONS)) {
        mode_t mode = attributes->permissions & 07777;
        if ((fd >= 0 ? ::fchmod(fd, mode) : ::chmod(host.c_str(), mode)) != 0) {
            replyErrno(message, errno);
            return;
        }
    }
    if (attributes && (attributes->flags & SSH_FILEXFER_ATTR_SIZE)) {
        off_t size = static_cast<off_t>(attributes->size);
        if ((fd >= 0 ? ::ftruncate(fd, size) : ::truncate(host.c_str(), size)) != 0) {
            replyErrno(message, errno);
            return;
        }
    }
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::opendir(Message message) {
    if (tooManyOpen(message)) return;
    std::string path = clientPath(message);
    transcript_.received(label_, "opendir " + path);
    DIR* dir = ::opendir(fs_.hostPath(path).c_str());
    if (!dir) {
        replyErrno(message, errno);
        return;
    }
    std::string handle = "d" + std::to_string(nextHandle_++);
    Open& entry = handles_[handle];
    entry.path = path;
    entry.directory = true;
    while (dirent* item = ::readdir(dir)) entry.entries.push_back(item->d_name);
    ::closedir(dir);
    std::sort(entry.entries.begin(), entry.entries.end());
    ssh_string text = ssh_string_from_char(handle.c_str());
    sftp_reply_handle(message, text);
    ssh_string_free(text);
}

void SftpServer::readdir(Message message) {
    Open* entry = find(message);
    if (!entry) return;
    if (!entry->directory) {
        sftp_reply_status(message, SSH_FX_FAILURE, "Not a directory");
        return;
    }
    if (entry->entries.empty()) {
        sftp_reply_status(message, SSH_FX_EOF, "End of directory");
        return;
    }
    size_t count = std::min(entry->entries.size(), namesPerReply);
    for (size_t i = 0; i < count; ++i) {
        const std::string& name = entry->entries[i];
        struct stat st;
        std::string host = fs_.hostPath(entry->path) + "/" + name;
        if (::lstat(host.c_str(), &st) != 0) memset(&st, 0, sizeof st);
        Attributes attributes(st);
        sftp_reply_names_add(message, name.c_str(), longName(name, st).c_str(), &attributes.value);
    }
    entry->entries.erase(entry->entries.begin(), entry->entries.begin() + static_cast<long>(count));
    sftp_reply_names(message);
}

void SftpServer::remove(Message message) {
    std::string path = clientPath(message);
    transcript_.received(label_, "remove " + path);
    if (refuseReadOnly(message, path)) return;
    if (::unlink(fs_.hostPath(path).c_str()) != 0) {
        int error = errno;
        replyErrno(message, error);
        transcript_.sent(label_, std::string("error: ") + strerror(error));
        return;
    }
    transcript_.sent(label_, "ok");
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::mkdir(Message message) {
    std::string path = clientPath(message);
    transcript_.received(label_, "mkdir " + path);
    if (refuseReadOnly(message, path)) return;
    if (::mkdir(fs_.hostPath(path).c_str(), 0755) != 0) {
        replyErrno(message, errno);
        return;
    }
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::rmdir(Message message) {
    std::string path = clientPath(message);
    transcript_.received(label_, "rmdir " + path);
    if (refuseReadOnly(message, path)) return;
    if (::rmdir(fs_.hostPath(path).c_str()) != 0) {
        replyErrno(message, errno);
        return;
    }
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::realpath(Message message) {
    std::string path = clientPath(message);
    struct stat st;
    Attributes attributes;
    if (::stat(fs_.hostPath(path).c_str(), &st) == 0) attributes = Attributes(st);
    sftp_reply_name(message, path.c_str(), &attributes.value);
}

// Renaming replaces an existing target, the way the device moves a file
// from its memory onto its disk.
void SftpServer::rename(Message message, const std::string& to) {
    std::string from = clientPath(message);
    std::string target = VirtualFs::normalize(to);
    const std::string request = "rename " + from + " " + target;
    transcript_.received(label_, request);
    if (faultOn(request)) return;
    if (refuseReadOnly(message, from) || refuseReadOnly(message, target)) return;
    if (::rename(fs_.hostPath(from).c_str(), fs_.hostPath(target).c_str()) != 0) {
        int error = errno;
        replyErrno(message, error);
        transcript_.sent(label_, std::string("error: ") + strerror(error));
        return;
    }
    transcript_.sent(label_, "ok");
    sftp_reply_status(message, SSH_FX_OK, "Success");
}

void SftpServer::extended(Message message) {
    const char* name = sftp_client_message_get_submessage(message);
    if (name && strcmp(name, "posix-rename@openssh.com") == 0) {
        const char* to = sftp_client_message_get_data(message);
        rename(message, to ? to : "");
        return;
    }
    sftp_reply_status(message, SSH_FX_OP_UNSUPPORTED, "Operation not supported");
}
