#pragma once
#include <string>

// Workmode is one row of the workmode table: everything a job's workmode
// decides, so that no other code asks for a workmode by its name. The table
// itself lives with the pipeline that runs it (TarvoWorkmodes.cpp); adding a
// workmode is adding a row there.
struct Workmode {
    // The stages of Run in pipeline order. A row names the stages that act
    // for it; the pipeline runs them in this order and ends at the first that
    // reports the end.
    enum Stage : unsigned {
        kSetPasswords = 1u << 3,
        kInventory = 1u << 4,
        kReboot = 1u << 5,
        kDownload = 1u << 6,          // always: the download is the job's result
        kDownloadIfMerge = 1u << 16,  // only for fetch-and-merge routers, as the merge base
        kImages = 1u << 7,
        kBuild = 1u << 8,
        kUpload = 1u << 9,
        kConfigCreated = 1u << 10,
        kEncrypt = 1u << 11,
        kSSHKeyGen = 1u << 12,
        kCompare = 1u << 13,
        kErase = 1u << 14,
    };

    const char* name;        // compared exactly, letter case included; "" in the unknown row
    bool needsTestPing;      // testPing runs after Run
    bool buildsConfig;       // a configuration is built; its text goes into the history row
    bool allConfigs;         // the download and the upload handle every configuration of the device
    bool certsOnly;          // the upload only loads the certificates into the target
    bool bootFactory;        // the upload's target is the factory-boot configuration
    bool recordsDownload;    // the download is the job's result: history row and stored configuration
    bool loadsCertificates;  // the upload loads the router's PKCS#12 files; only such a job removes them
    bool dropsConfigFile;    // the device takes the built file; it leaves the transfer directory at the end
    const char* configFile;  // suffix of the job's configuration file in the transfer directory
    unsigned stages;         // Stage bits; none: Run opens no connection, the job is the test ping

    bool acts(Stage stage) const { return (stages & stage) != 0; }
    bool known() const { return *name != '\0'; }

    // The row of name; the unknown row (known() false, no stage, no fact)
    // for a name the table does not hold.
    static const Workmode& named(const std::string& name);
    static const Workmode kUnknown;
};
