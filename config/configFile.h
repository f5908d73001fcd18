#pragma once
#include <string>
#include <vector>

class logEngine;

// configFile is one device configuration: a file in the transfer directory
// plus the same text in memory. An empty fileName means the configuration
// could not be read or produced; that is how users recognise failure.
class configFile {
public:
    // Reading constructor: loads the job's configuration file (downloaded by
    // a device operation or produced by an external tool) from transferDir
    // (with trailing slash). log is not owned and must outlive the object.
    configFile(logEngine* log, unsigned long jobId, const std::string& workmode, const std::string& transferDir);
    configFile(const configFile&) = delete;
    configFile& operator=(const configFile&) = delete;

    // transferDir + job id + ".config" (".config_cmp" for "ConfComp").
    static std::string nameFor(const std::string& transferDir, unsigned long jobId, const std::string& workmode);

    // Appends the whole file to the buffer; false when it cannot be opened.
    bool readBuffer(const std::string& path);
    // Appends the whole buffer as one entry (a history or configuration row).
    void exportBuffer(std::vector<std::string>& list) const;

    const std::string& getFileName() const { return fileName; }
    const std::string& getBuffer() const { return buffer; }

protected:
    std::string fileName;
    std::string buffer;
    logEngine* log;
    unsigned long jobId;
    std::string workmode;
    std::string transferDir;
};
