#include "core/VocabStore.h"

#include "core/AppPaths.h"
#include "core/AtomicFile.h"

#include <nlohmann/json.hpp>

namespace quorvel {
namespace {

void createFolders(const std::filesystem::path& url) {
    files::createDirectories(AppPaths::supportDir());
    if (url.has_parent_path()) files::createDirectories(url.parent_path());
}

}  // namespace

VocabStore::VocabStore(std::filesystem::path url) : url_(std::move(url)) {
    const files::StoreLoad loaded = files::loadStoreFile(url_, "vocabulary", [this](const std::string& bytes) {
        auto pairs = decode(bytes);
        if (pairs) pairs_ = std::move(*pairs);
        return pairs.has_value();
    });
    fileKeptAside_ = loaded == files::StoreLoad::KeptAside;
    if (loaded == files::StoreLoad::Decoded || fileKeptAside_) return;
    // Missing or undecodable (its bytes kept aside): the earlier generation's file, if any.
    const files::ReadResult legacy = files::readStoreFile(AppPaths::legacyDir() / "vocab.json", "earlier vocabulary");
    if (legacy.status != files::ReadResult::Status::Read) return;
    auto legacyPairs = decode(legacy.bytes);
    if (!legacyPairs) return;
    pairs_ = std::move(*legacyPairs);
    // Copied byte for byte, so the next start reads exactly what the earlier program wrote.
    createFolders(url_);
    files::writeAtomically(url_, legacy.bytes);
}

void VocabStore::replaceAll(Pairs pairs) {
    pairs_ = std::move(pairs);
    save();
}

bool VocabStore::save() const {
    if (fileKeptAside_) return false;
    createFolders(url_);
    return files::writeAtomically(url_, encode(pairs_));
}

// The vocabulary uses the map-backed JSON type, not the insertion-ordered one of the other
// files: the order of rules means nothing, and the ordered type finds keys by a linear search,
// which makes 100 000 rules take seconds on every start.
std::optional<VocabStore::Pairs> VocabStore::decode(std::string_view bytes) {
    nlohmann::json value;
    try {
        value = nlohmann::json::parse(bytes.begin(), bytes.end());
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    if (!value.is_object()) return std::nullopt;
    Pairs pairs;
    for (auto& [phrase, replacement] : value.get_ref<nlohmann::json::object_t&>()) {
        if (!replacement.is_string()) return std::nullopt;
        pairs.emplace_hint(pairs.end(), phrase, std::move(replacement.get_ref<std::string&>()));
    }
    return pairs;
}

std::string VocabStore::encode(const Pairs& pairs) {
    nlohmann::json object = nlohmann::json::object();
    auto& members = object.get_ref<nlohmann::json::object_t&>();
    for (const auto& [phrase, replacement] : pairs) members.emplace_hint(members.end(), phrase, replacement);
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace quorvel
