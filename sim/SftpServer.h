#pragma once
#include <libssh/libssh.h>
#define WITH_SERVER 1
#include <libssh/sftp.h>

#include <map>
#include <string>
#include <vector>

#include "sim/DevsimOptions.h"
#include "sim/UniqueFd.h"
#include "sim/VirtualFs.h"

class StopSignal;
class Transcript;

// SftpServer answers the SFTP requests of one channel over the device's
// virtual file system, so that sftp's put, get, rename, ls, rm, mkdir and
// rmdir work. It uses libssh's message-loop server API. Handles are its
// own (never libssh's table), so a forged handle from the client is just
// an unknown one. Every request that changes or reads a file is written
// to the transcript. --disk-full refuses writes past its size, as a full
// disk does. The fault switches --silent-after and
// --close-mid-reply also name requests, as the transcript writes them
// ("open /MEM/SYS.IMG for writing", "rename /MEM/X /DSK/X").
class SftpServer {
public:
    // session and channel stay owned by the caller.
    SftpServer(ssh_session session, ssh_channel channel, const VirtualFs& fs, Transcript& transcript, std::string label,
               const Faults& faults);
    ~SftpServer();
    SftpServer(const SftpServer&) = delete;
    SftpServer& operator=(const SftpServer&) = delete;

    // Serves until the client ends the subsystem, the connection breaks or
    // the stop comes; false when a fault dropped the line, which then must
    // not be closed politely.
    bool run(const StopSignal& stop);

private:
    struct Open {
        std::string path;  // normalised client path
        UniqueFd fd;       // files
        bool directory = false;
        bool listed = false;
        bool written = false;
        bool diskFull = false;             // a write was refused by --disk-full
        std::vector<std::string> entries;  // directories, read at opendir
    };
    using Message = sftp_client_message;

    void handle(Message message);
    void open(Message message);
    void close(Message message);
    void read(Message message);
    void write(Message message);
    void stat(Message message, bool follow);
    void fstat(Message message);
    void setstat(Message message);
    void opendir(Message message);
    void readdir(Message message);
    void remove(Message message);
    void mkdir(Message message);
    void rmdir(Message message);
    void realpath(Message message);
    void rename(Message message, const std::string& to);
    void extended(Message message);

    Open* find(Message message);
    std::string clientPath(Message message) const;
    void replyErrno(Message message, int error);
    bool refuseReadOnly(Message message, const std::string& path);
    bool tooManyOpen(Message message);
    void log(const std::string& text);
    bool faultOn(const std::string& request);

    ssh_session session_;
    ssh_channel channel_;
    sftp_session sftp_ = nullptr;
    const VirtualFs& fs_;
    Transcript& transcript_;
    std::string label_;
    const Faults& faults_;
    bool silent_ = false;   // requests are read and never answered
    bool dropped_ = false;  // the line drops without an answer
    std::map<std::string, Open> handles_;
    unsigned long nextHandle_ = 1;
};
