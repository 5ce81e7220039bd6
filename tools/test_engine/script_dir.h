// Canned answers from a directory, for running the engine as a program.
//
// A file named <METHOD>__<path>.xml answers METHOD on that path (any query) with 200 and the
// file's content as application/xml. In <path>, '_' stands for '/', and %XX escapes stand for
// any byte, so "%5F" gives a literal underscore. A leading '/' is implied. Examples:
//   GET__ovirt-engine_api.xml                     GET /ovirt-engine/api
//   GET__ovirt-engine_api_vms_1_disk%5Fattachments.xml
//                                                 GET /ovirt-engine/api/vms/1/disk_attachments
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace hvtest {

class TestEngine;

// Method and path a file name stands for; nullopt for names that do not follow the scheme.
std::optional<std::pair<std::string, std::string>> parseScriptFileName(std::string_view name);

// Scripts every matching file of dir; returns how many. Throws std::runtime_error when the
// directory or a file cannot be read.
size_t loadScriptDirectory(TestEngine& engine, const std::string& dir);

}  // namespace hvtest
