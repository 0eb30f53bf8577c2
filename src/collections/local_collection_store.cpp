#include "collections/local_collection_store.h"

#include "core/containment.h"
#include "core/json_decoding.h"
#include "core/locations.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/file_reading.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <cstdio>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace mivora::collections {

namespace {

constexpr size_t kMaxSlugCharacters = 64;

// Calls `visit(scalar)` for each Unicode scalar; a malformed byte counts as U+FFFD.
template <class Visit> void forEachScalar(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        visit(c < 0 ? 0xFFFD : c, text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
}

bool isLetterMarkOrNumber(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}
bool isLowercaseLetterOrDigit(UChar32 c) {
    int8_t type = u_charType(c);
    return type == U_LOWERCASE_LETTER || type == U_DECIMAL_DIGIT_NUMBER;
}

std::string prefixCharacters(std::string_view text, size_t count) {
    std::vector<std::string> pieces = core::characters(text);
    if (pieces.size() <= count) return std::string(text);
    pieces.resize(count);
    return core::joinStrings(pieces, "");
}

// One folder name under the root: a slug that could climb out of it, or name
// a folder deeper down, is no collection.
bool isSingleFolderName(const std::string& slug) {
    return core::isSinglePathComponent(slug);
}

int digitsValue(std::string_view text, size_t start, size_t count) {
    int value = 0;
    for (size_t i = start; i < start + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

ManifestDate dateMember(const core::JSONObjectReader& object, const char* key) {
    std::string text = object.string(key);
    auto date = parseManifestDate(text);
    if (!date) {
        throw core::JSONDecodingError("Expected a date in ISO 8601 form (\"2026-03-01T09:15:00Z\") at " +
                                      object.pathOf(key) + " but found \"" + text + "\"");
    }
    return *date;
}

std::optional<ManifestDate> optionalDateMember(const core::JSONObjectReader& object, const char* key) {
    if (!object.optionalMember(key)) return std::nullopt;
    return dateMember(object, key);
}

LocalCollectionIconEntry decodeEntry(const core::JSONObjectReader& object) {
    LocalCollectionIconEntry entry;
    entry.appName = object.string("appName");
    std::string status = object.string("status");
    auto parsed = localCollectionIconStatus(status);
    if (!parsed) {
        throw core::JSONDecodingError("Unknown status \"" + status + "\" at " + object.pathOf("status") +
                                      " (expected pending, done, rejected or skipped)");
    }
    entry.status = *parsed;
    entry.attempts = object.integer("attempts");
    entry.dark = object.boolean("dark");
    entry.reason = object.optionalString("reason");
    entry.updatedAt = dateMember(object, "updatedAt");
    return entry;
}

core::Json entryJson(const LocalCollectionIconEntry& entry) {
    core::Json json;
    json["appName"] = entry.appName;
    json["status"] = rawValue(entry.status);
    json["attempts"] = entry.attempts;
    json["dark"] = entry.dark;
    core::setOptional(json, "reason", entry.reason);
    json["updatedAt"] = formatManifestDate(entry.updatedAt);
    return json;
}

} // namespace

// --- dates -------------------------------------------------------------------

ManifestDate manifestNow() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

std::string formatManifestDate(ManifestDate date) {
    auto days = std::chrono::floor<std::chrono::days>(date);
    std::chrono::year_month_day ymd{days};
    std::chrono::hh_mm_ss time{date - days};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buffer;
}

std::optional<ManifestDate> parseManifestDate(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS then "Z" or ±HH:MM
    if (text.size() != 20 && text.size() != 25) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    int year = digitsValue(text, 0, 4), month = digitsValue(text, 5, 2), day = digitsValue(text, 8, 2);
    int hour = digitsValue(text, 11, 2), minute = digitsValue(text, 14, 2), second = digitsValue(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return std::nullopt;
    std::chrono::year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                    std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok()) return std::nullopt;
    std::chrono::seconds offset{0};
    if (text.size() == 20) {
        if (text[19] != 'Z') return std::nullopt;
    } else {
        if ((text[19] != '+' && text[19] != '-') || text[22] != ':') return std::nullopt;
        int offsetHours = digitsValue(text, 20, 2), offsetMinutes = digitsValue(text, 23, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59)
            return std::nullopt;
        offset = std::chrono::hours(offsetHours) + std::chrono::minutes(offsetMinutes);
        if (text[19] == '-') offset = -offset;
    }
    ManifestDate date = std::chrono::sys_days(ymd) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
                        std::chrono::seconds(second) - offset;
    // Dates are saved in UTC with a four-digit year; an offset that moves a date
    // out of that range ("9999-12-31T23:59:59-23:59") is refused here, or the
    // manifest would be saved in a form that no reader accepts.
    std::chrono::year utcYear =
        std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(date)}.year();
    if (utcYear < std::chrono::year(0) || utcYear > std::chrono::year(9999)) return std::nullopt;
    return date;
}

// --- status --------------------------------------------------------------------

std::string rawValue(LocalCollectionIconStatus status) {
    switch (status) {
    case LocalCollectionIconStatus::pending:
        return "pending";
    case LocalCollectionIconStatus::done:
        return "done";
    case LocalCollectionIconStatus::rejected:
        return "rejected";
    case LocalCollectionIconStatus::skipped:
        return "skipped";
    }
    return "pending";
}

std::optional<LocalCollectionIconStatus> localCollectionIconStatus(std::string_view text) {
    for (auto status : {LocalCollectionIconStatus::pending, LocalCollectionIconStatus::done,
                        LocalCollectionIconStatus::rejected, LocalCollectionIconStatus::skipped}) {
        if (text == rawValue(status)) return status;
    }
    return std::nullopt;
}

// --- errors --------------------------------------------------------------------

LocalCollectionError LocalCollectionError::invalidSlug(const std::string& slug) {
    return {Kind::invalidSlug, "Invalid collection slug '" + slug +
                                   "'. Use lowercase letters, digits, and dashes (max 64 chars)."};
}
LocalCollectionError LocalCollectionError::alreadyExists(const std::string& slug) {
    return {Kind::alreadyExists, "A local collection named '" + slug + "' already exists."};
}
LocalCollectionError LocalCollectionError::notFound(const std::string& slug) {
    return {Kind::notFound,
            "No local collection named '" + slug + "'. Run `mivora collections create` first."};
}
LocalCollectionError LocalCollectionError::badImage(const std::string& message) {
    return {Kind::badImage, message};
}
LocalCollectionError LocalCollectionError::publishFailed(const std::string& message) {
    return {Kind::publishFailed, message};
}

// --- manifest encoding ---------------------------------------------------------

std::vector<std::string> LocalCollectionManifest::doneAppSlugs() const {
    std::vector<std::string> keys;
    for (const auto& [key, entry] : icons) {
        if (entry.status == LocalCollectionIconStatus::done) keys.push_back(key);
    }
    return keys; // std::map keeps keys in plain string order
}

core::Json LocalCollectionManifest::toJson() const {
    core::Json json;
    json["schema"] = schema;
    json["slug"] = slug;
    json["name"] = name;
    json["description"] = description;
    json["accent"] = accent;
    core::setOptional(json, "stylePrompt", stylePrompt);
    core::setOptional(json, "provider", provider);
    json["createdAt"] = formatManifestDate(createdAt);
    core::Json entries = core::Json::object();
    for (const auto& [key, entry] : icons)
        entries[key] = entryJson(entry);
    json["icons"] = std::move(entries);
    core::Json state = core::Json::object();
    core::setOptional(state, "remoteSlug", publish.remoteSlug);
    if (publish.publishedAt) state["publishedAt"] = formatManifestDate(*publish.publishedAt);
    if (publish.finalizedAt) state["finalizedAt"] = formatManifestDate(*publish.finalizedAt);
    json["publish"] = std::move(state);
    return json;
}

std::string LocalCollectionManifest::encoded() const {
    return core::writeJSON(toJson(), core::JSONStyle::pretty) + "\n";
}

LocalCollectionManifest LocalCollectionManifest::decode(std::string_view bytes) {
    core::JSONValue document = core::parseJSONDocument(bytes);
    core::JSONObjectReader root(document, "");
    LocalCollectionManifest manifest;
    manifest.schema = root.integer("schema");
    manifest.slug = root.string("slug");
    manifest.name = root.string("name");
    manifest.description = root.string("description");
    manifest.accent = root.string("accent");
    manifest.stylePrompt = root.optionalString("stylePrompt");
    manifest.provider = root.optionalString("provider");
    manifest.createdAt = dateMember(root, "createdAt");
    core::JSONObjectReader entries = root.object("icons");
    for (const auto& [key, value] : entries.value().items()) {
        manifest.icons[key] = decodeEntry(core::JSONObjectReader(value, entries.pathOf(key)));
    }
    core::JSONObjectReader state = root.object("publish");
    manifest.publish.remoteSlug = state.optionalString("remoteSlug");
    manifest.publish.publishedAt = optionalDateMember(state, "publishedAt");
    manifest.publish.finalizedAt = optionalDateMember(state, "finalizedAt");
    return manifest;
}

// --- the store -----------------------------------------------------------------

const std::string& LocalCollectionManifest::collectionsRoot() {
    static const std::string root = [] {
        std::string path = platform::joinPath(core::appSupportDirectory(), "collections");
        platform::tryCreateDirectories(path);
        return path;
    }();
    return root;
}

std::string LocalCollectionManifest::collectionDirectory(const std::string& slug) {
    return platform::joinPath(collectionsRoot(), slug);
}

std::string LocalCollectionManifest::writableCollectionDirectory(const std::string& slug) {
    if (!isSingleFolderName(slug)) throw LocalCollectionError::invalidSlug(slug);
    std::string folder = collectionDirectory(slug);
    if (!core::containedPath(folder, collectionsRoot())) {
        throw platform::FileSystemError("Cannot write into " + folder +
                                        ": it is a symbolic link or lies outside the collections folder");
    }
    return folder;
}

std::string LocalCollectionManifest::manifestPath(const std::string& slug) {
    return platform::joinPath(collectionDirectory(slug), "manifest.json");
}

std::string LocalCollectionManifest::publishTokenPath(const std::string& slug) {
    return platform::joinPath(collectionDirectory(slug), "publish-token");
}

std::string LocalCollectionManifest::iconPath(const std::string& slug, const std::string& appSlug,
                                              bool dark) {
    return platform::joinPath(platform::joinPath(collectionDirectory(slug), "icons"),
                              appSlug + (dark ? "@dark.png" : ".png"));
}

std::optional<std::string> LocalCollectionManifest::stagedIconFile(const std::string& slug,
                                                                   const std::string& appSlug, bool dark) {
    if (!isSingleFolderName(slug) || !isUsableIconKey(appSlug)) return std::nullopt;
    return core::containedPath(iconPath(slug, appSlug, dark), collectionsRoot());
}

bool LocalCollectionManifest::isUsableIconKey(std::string_view key) {
    return core::isSinglePathComponent(key);
}

std::string LocalCollectionManifest::iconFileURL(const std::string& slug, const std::string& appSlug) {
    return platform::fileURLString(iconPath(slug, appSlug), false);
}

bool LocalCollectionManifest::isValidSlug(std::string_view text) {
    if (text.empty() || core::characterCount(text) > kMaxSlugCharacters) return false;
    bool valid = true, first = true;
    forEachScalar(text, [&](UChar32 c, std::string_view) {
        if (first && !isLowercaseLetterOrDigit(c)) valid = false;
        if (!isLowercaseLetterOrDigit(c) && c != '-') valid = false;
        first = false;
    });
    return valid;
}

bool LocalCollectionManifest::exists(const std::string& slug) {
    if (!isSingleFolderName(slug)) return false;
    return platform::itemExists(manifestPath(slug));
}

LocalCollectionManifest LocalCollectionManifest::load(const std::string& slug) {
    if (!isSingleFolderName(slug)) throw LocalCollectionError::notFound(slug);
    std::string path = manifestPath(slug);
    return decode(platform::readFileContents(path, platform::read_limits::manifest));
}

LocalCollectionManifest
LocalCollectionManifest::update(const std::string& slug,
                                const std::function<void(LocalCollectionManifest&)>& change) {
    if (!exists(slug)) throw LocalCollectionError::notFound(slug);
    platform::FileLock held = lock(slug);
    // Gone while we waited: nothing to change.
    if (!exists(slug)) throw LocalCollectionError::notFound(slug);
    LocalCollectionManifest manifest = load(slug);
    change(manifest);
    save(manifest, slug);
    return manifest;
}

platform::FileLock LocalCollectionManifest::lock(const std::string& slug) {
    // The folder itself, only where the manifest may be written: no file of ours is left in it.
    return platform::FileLock::folder(writableCollectionDirectory(slug), manifestPath(slug));
}

void LocalCollectionManifest::save(const LocalCollectionManifest& manifest) {
    save(manifest, manifest.slug);
}

void LocalCollectionManifest::save(const LocalCollectionManifest& manifest, const std::string& slug) {
    std::string folder = writableCollectionDirectory(slug);
    platform::createDirectories(folder);
    std::string bytes = manifest.encoded();
    platform::writeFileAtomically(manifestPath(slug), bytes);
}

void LocalCollectionManifest::create(const LocalCollectionManifest& manifest) {
    if (!isValidSlug(manifest.slug)) throw LocalCollectionError::invalidSlug(manifest.slug);
    if (exists(manifest.slug)) throw LocalCollectionError::alreadyExists(manifest.slug);
    std::string folder = writableCollectionDirectory(manifest.slug);
    for (const char* sub : {"", "icons", "sources", "raw"}) {
        platform::createDirectories(*sub ? platform::joinPath(folder, sub) : folder);
    }
    save(manifest);
}

std::vector<std::string> LocalCollectionManifest::listSlugs() {
    auto names = platform::listDirectory(collectionsRoot());
    if (!names) return {};
    std::vector<std::string> slugs;
    for (const auto& name : *names) {
        if (platform::fileExists(manifestPath(name))) slugs.push_back(name);
    }
    std::sort(slugs.begin(), slugs.end(), core::CanonicalOrder());
    return slugs;
}

std::optional<std::string> LocalCollectionManifest::readPublishToken(const std::string& slug) {
    // The token is sent to the service: it is read only from the collection's own folder.
    auto path = isSingleFolderName(slug) ? core::containedPath(publishTokenPath(slug), collectionsRoot())
                                         : std::nullopt;
    if (!path) return std::nullopt;
    auto bytes = platform::readFile(*path, platform::read_limits::token);
    if (!bytes) return std::nullopt;
    return publishTokenAsRead(*bytes);
}

std::optional<std::string> LocalCollectionManifest::publishTokenAsRead(std::string_view text) {
    if (!core::isValidUTF8(text)) return std::nullopt;
    std::string token = core::trimWhitespace(text);
    if (token.empty()) return std::nullopt;
    return token;
}

void LocalCollectionManifest::savePublishToken(const std::string& token, const std::string& slug) {
    writableCollectionDirectory(slug);
    platform::writeFileAtomically(publishTokenPath(slug), token, 0600);
}

void LocalCollectionManifest::removePublishToken(const std::string& slug) {
    if (!isSingleFolderName(slug)) return;
    if (auto path = core::containedPath(publishTokenPath(slug), collectionsRoot()))
        platform::removeItemQuietly(*path);
}

// --- slugs ---------------------------------------------------------------------

std::string slugify(std::string_view text) {
    return prefixCharacters(slugifyWithoutLimit(text), kMaxSlugCharacters);
}

std::string slugifyWithoutLimit(std::string_view text) {
    std::string lower = core::lowercased(text);
    std::string dashed;
    forEachScalar(lower, [&](UChar32 c, std::string_view bytes) {
        if (isLetterMarkOrNumber(c))
            dashed += bytes;
        else
            dashed += '-';
    });
    return core::joinStrings(core::splitString(dashed, '-', true), "-");
}

std::string titleizeSlug(std::string_view slug) {
    std::vector<std::string> words;
    for (const std::string& piece : core::splitString(slug, '-', true)) {
        std::vector<std::string> letters = core::characters(piece);
        if (letters.empty()) continue;
        letters[0] = core::uppercased(letters[0]);
        words.push_back(core::joinStrings(letters, ""));
    }
    return core::joinStrings(words, " ");
}

} // namespace mivora::collections
