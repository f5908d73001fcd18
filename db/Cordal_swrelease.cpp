#include "db/Cordal_swrelease.h"

#include "db/NexaImage.h"
#include "db/Query.h"
#include "util/CommandText.h"
#include "util/ContainedPath.h"

namespace {
const dbRecord::TableInfo kTable = {"cordal_swrelease",
                                    "name",
                                    "INSERT INTO cordal_swrelease (",
                                    " VALUES (",
                                    "UPDATE cordal_swrelease SET ",
                                    " WHERE ",
                                    true,
                                    true,
                                    "id"};

std::string withSlash(const std::string& dir) {
    return dir.empty() || dir.back() == '/' ? dir : dir + "/";
}
}  // namespace

Cordal_swrelease::Cordal_swrelease(logEngine* logger, bool versionWanted, const std::string& dir, Database* db)
    : dbRecord(db, kTable), log(logger), readVersion(versionWanted), transferDir(withSlash(dir)) {}

Cordal_swrelease::Cordal_swrelease(logEngine* logger, bool versionWanted, const std::string& dir, Database& db,
                                   unsigned long key)
    : Cordal_swrelease(logger, versionWanted, dir, &db) {
    spawn("SELECT * FROM cordal_swrelease WHERE id=" + ("'" + std::to_string(key) + "'"));
}

Cordal_swrelease::Cordal_swrelease(logEngine* logger, bool versionWanted, const std::string& dir, Database& db,
                                   const std::string& releaseName)
    : Cordal_swrelease(logger, versionWanted, dir, &db) {
    spawn("SELECT * FROM cordal_swrelease WHERE name='" + Query::safestr(releaseName) + "'");
}

Cordal_swrelease::Cordal_swrelease(logEngine* logger, bool versionWanted, const std::string& dir, Database* db,
                                   const std::string& sql)
    : Cordal_swrelease(logger, versionWanted, dir, db) {
    spawn(sql);
}

Cordal_swrelease::Cordal_swrelease(logEngine* logger, bool versionWanted, const std::string& dir, Database* db,
                                   Query* q)
    : Cordal_swrelease(logger, versionWanted, dir, db) {
    spawn(q);
}

Cordal_swrelease* Cordal_swrelease::clear() {
    clearValues();
    return this;
}

void Cordal_swrelease::update(const std::string& key) {
    updateWhere(keyIs(key));
}

void Cordal_swrelease::afterLoad(bool found) {
    nexaVersion.clear();
    if (found && readVersion) readnexaversion();
}

bool Cordal_swrelease::readnexaversion() {
    multiPart = false;
    refusedColumn.clear();
    refusal.clear();
    // Both names come from the database: the image is read only from the
    // model's own folder.
    const std::string images = transferDir + "images/";
    std::string why = ContainedPath::refusal(images, routertype);
    if (!why.empty()) {
        refusedColumn = "routertype";
        refusal = "Release column 'routertype' ('" + CommandText::shown(routertype) + "') is " + why +
                  "; the folder must lie in '" + images + "'.";
        return false;
    }
    const std::string folder = images + routertype + "/";
    why = ContainedPath::refusal(folder, nexa);
    if (!why.empty()) {
        refusedColumn = "nexa";
        refusal = "Release column 'nexa' ('" + CommandText::shown(nexa) + "') is " + why + "; the file must lie in '" +
                  folder + "'.";
        return false;
    }
    return NexaImage(log).readVersion(folder + nexa, nexaVersion, multiPart);
}

std::vector<dbRecord::Column> Cordal_swrelease::columns() {
    return {col("id", id),
            col("name", name),
            col("routertype", routertype),
            col("customerid", customerid),
            col("logic", logic),
            col("bootmonitor", bootmonitor),
            col("nexa", nexa),
            col("globalmaster", globalmaster),
            col("dsllogic", dsllogic),
            col("module2", module2),
            col("module3", module3),
            col("module4", module4)};
}
