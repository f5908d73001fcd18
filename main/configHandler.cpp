#include "main/configHandler.h"

#include <memory>

#include "util/SettingsText.h"
#include "util/logEngine.h"
#include "xml/XMLElement.h"
#include "xml/XMLElementException.h"
#include "xml/XMLParser.h"

const std::string configHandler::notFound = SettingsText::notFound;

configHandler::configHandler(logEngine* engine, std::string file) : log(engine), settingsFile(std::move(file)) {}

std::string configHandler::getFromCfg(const std::string& name) const {
    std::string text;
    if (!SettingsText::readFile(settingsFile, text) && log)
        log->addLine(logEngine::ERR, "Could not open config file (%s). Aborting.", settingsFile.c_str());
    return findSetting(text, name, log);
}

std::string configHandler::findSetting(const std::string& text, const std::string& name, logEngine* log) {
    return SettingsText::find(text, name, log);
}

bool configHandler::readRows(const std::vector<XmlRow>& rows) const {
    XMLParser parser;
    std::unique_ptr<XMLElement> top;
    try {
        top.reset(parser.load(settingsFile));
    } catch (const XMLParserException& e) {
        // The parser quotes the offending line, which may hold a password:
        // the ordinary log gets only where it went wrong.
        if (!log) return false;
        if (parser.lineNumber() == 0) {
            // Not one line read (missing, unreadable or empty): no text to hide.
            log->addLine(logEngine::ERR, "Could not read config file '%s' (%s).", settingsFile.c_str(), e.what());
        } else {
            log->addLine(logEngine::ERR, "Could not parse config file '%s' (line %u).", settingsFile.c_str(),
                         parser.lineNumber());
            log->addLine(logEngine::DBG, "Parser: %s", e.what());
        }
        return false;
    }
    return applyRows(*top, rows, log);
}

bool configHandler::applyRows(XMLElement& top, const std::vector<XmlRow>& rows, logEngine* log) {
    for (const XmlRow& row : rows) {
        try {
            XMLElement* element = top.getChildp(row.path());
            if (row.leaf) element = element->getChild(*row.leaf);
            *row.member = element->getContent();
        } catch (const XMLElementException& e) {
            if (row.optional()) continue;
            if (log) log->addLine(logEngine::ERR, "Could not read '%s' ('%s').", row.text().c_str(), e.what());
            return false;
        }
    }
    return true;
}
