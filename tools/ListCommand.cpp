// vxhost list: the plug-ins on the search path, each probed in a child
// process for its module name and framework version, so that a library that
// crashes while loading is listed as refused instead of ending the listing.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "HostError.h"
#include "Interrupts.h"
#include "LibraryProbe.h"
#include "PluginSearch.h"
#include "TextTable.h"

namespace vxhost {

namespace {

struct Entry {
    std::string name;  // what `vxhost info NAME` takes
    std::string path;
    bool shadowed = false;  // an earlier folder has one of the same name
    ProbeResult probe;
};

std::vector<Entry> FindPlugins() {
    namespace fs = std::filesystem;
    const std::string suffix = PluginFileName("");
    std::vector<Entry> entries;
    for (const std::string& folder : PluginSearchPath()) {
        std::error_code error;
        std::vector<std::string> files;
        for (fs::directory_iterator it(fs::u8path(folder), error), end; !error && it != end; it.increment(error)) {
            const std::string file = it->path().filename().u8string();
            if (file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                it->is_regular_file(error))
                files.push_back(file);
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            Entry entry;
            entry.name = file.substr(0, file.size() - suffix.size());
            entry.path = folder + "/" + file;
            for (const Entry& earlier : entries) entry.shadowed = entry.shadowed || earlier.name == entry.name;
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace

int RunList(const ListOptions& options) {
    std::vector<Entry> entries = FindPlugins();
    for (Entry& entry : entries) {
        if (Interrupted()) throw HostError("interrupted");
        entry.probe = ProbeLibrary(entry.path);
    }
    if (options.json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const Entry& e : entries) {
            nlohmann::ordered_json item;
            item["name"] = e.name;
            item["path"] = e.path;
            item["loadable"] = e.probe.loadable;
            if (e.probe.loadable) {
                item["id"] = e.probe.properties.id;
                item["module_name"] = e.probe.properties.name;
                item["framework"] = e.probe.properties.sdk_version;
            } else {
                item["error"] = e.probe.reason;
            }
            item["shadowed"] = e.shadowed;
            out.push_back(item);
        }
        std::cout << out.dump(2) << '\n';
        return 0;
    }
    if (entries.empty()) {
        std::string folders;
        for (const std::string& f : PluginSearchPath()) folders += (folders.empty() ? "" : ", ") + f;
        std::cout << "no plug-ins in " << folders << " (add folders to VXHOST_PATH)\n";
        return 0;
    }
    TextTable table({"plug-in", "module", "framework", "path"});
    for (const Entry& e : entries) {
        std::string path = e.path + (e.shadowed ? " (hidden by an earlier one)" : "");
        if (e.probe.loadable)
            table.Add({e.name, e.probe.properties.name, std::to_string(e.probe.properties.sdk_version), path});
        else
            table.Add({e.name, "refused: " + e.probe.reason, "-", path});
    }
    table.Print(std::cout);
    return 0;
}

}  // namespace vxhost
