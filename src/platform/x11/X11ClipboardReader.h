#pragma once
// Reads what another program holds on the X CLIPBOARD selection, over a private connection and
// within a deadline, so a hung or slow owner cannot hold us up. Only targets that name data are
// asked for: requesting DELETE, INSERT_SELECTION or INSERT_PROPERTY makes an owner act on its
// selection, and bookkeeping targets (TARGETS, TIMESTAMP, …) are no content to keep.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

class X11ClipboardReader {
public:
    using Item = std::pair<QString, QByteArray>;  // MIME type, data

    // Every data format with its bytes, in the owner's order; text offered only as X string
    // targets comes back as "text/plain" (UTF-8). Empty when nobody owns the clipboard; nullopt
    // when there is no X display or the owner did not hand over everything within `limit`.
    static std::optional<std::vector<Item>> read(std::chrono::milliseconds limit);

    // A target whose conversion only returns data: MIME types and the X string targets.
    static bool isDataTarget(std::string_view name);
};

}  // namespace quorvel
