#include "core/VocabStore.h"

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/JsonFields.h"

namespace quorvel {
namespace {

void createFolders(const std::filesystem::path& url) {
    files::createDirectories(AppPaths::supportDir());
    if (url.has_parent_path()) files::createDirectories(url.parent_path());
}

}  // namespace

VocabStore::VocabStore(std::filesystem::path url) : url_(std::move(url)) {
    if (const auto bytes = files::readWhole(url_)) {
        if (auto pairs = decode(*bytes)) {
            pairs_ = std::move(*pairs);
            return;
        }
        files::keepUnreadableCopy(url_, *bytes);  // the next save (or the legacy import) replaces it
    }
    const auto legacyBytes = files::readWhole(AppPaths::legacyDir() / "vocab.json");
    if (!legacyBytes) return;
    auto legacyPairs = decode(*legacyBytes);
    if (!legacyPairs) return;
    pairs_ = std::move(*legacyPairs);
    // Copied byte for byte, so the next start reads exactly what the earlier program wrote.
    createFolders(url_);
    files::writeAtomically(url_, *legacyBytes);
}

void VocabStore::replaceAll(Pairs pairs) {
    pairs_ = std::move(pairs);
    save();
}

bool VocabStore::save() const {
    createFolders(url_);
    return files::writeAtomically(url_, encode(pairs_));
}

std::optional<VocabStore::Pairs> VocabStore::decode(std::string_view bytes) {
    const auto value = json::parse(bytes);
    if (!value || !value->is_object()) return std::nullopt;
    Pairs pairs;
    for (const auto& [phrase, replacement] : value->items()) {
        if (!replacement.is_string()) return std::nullopt;
        pairs[phrase] = replacement.get<std::string>();
    }
    return pairs;
}

std::string VocabStore::encode(const Pairs& pairs) {
    json::Json object = json::Json::object();
    for (const auto& [phrase, replacement] : pairs) object[phrase] = replacement;
    return object.dump(-1, ' ', false, json::Json::error_handler_t::replace);
}

}  // namespace quorvel
