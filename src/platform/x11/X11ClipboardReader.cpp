#include "platform/x11/X11ClipboardReader.h"

#include "platform/x11/X11Display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <climits>
#include <string>

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

// One conversion at a time on a private, unmapped window.
class Requestor {
public:
    Requestor(Display* display, Clock::time_point deadline) : display_(display), deadline_(deadline) {
        window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display, window_, PropertyChangeMask);
        clipboard_ = XInternAtom(display, "CLIPBOARD", False);
        property_ = XInternAtom(display, "QUORVEL_CLIPBOARD_COPY", False);
        incr_ = XInternAtom(display, "INCR", False);
    }
    ~Requestor() { XDestroyWindow(display_, window_); }
    Requestor(const Requestor&) = delete;
    Requestor& operator=(const Requestor&) = delete;

    bool timedOut() const { return timedOut_; }

    // The owner's data for `target`; nullopt when it refused or did not answer in time.
    std::optional<std::string> convert(Atom target, Atom* typeOut = nullptr) {
        XConvertSelection(display_, clipboard_, target, property_, window_, CurrentTime);
        XEvent event;
        if (!waitFor(SelectionNotify, event)) return std::nullopt;
        if (event.xselection.property == None) return std::nullopt;
        // The owner's writes of the property (and our deletes) queued PropertyNotify events; left
        // there, an incremental transfer would take them for its chunks and end before the first.
        while (XCheckTypedWindowEvent(display_, window_, PropertyNotify, &event)) {
        }
        Atom type = None;
        int format = 0;
        std::string data = takeProperty(type, format);
        if (type == incr_) return receiveIncrementally(typeOut);
        if (typeOut) *typeOut = type;
        return data;
    }

private:
    // Large data comes in chunks: each time we delete the property the owner writes the next
    // one; an empty chunk ends it.
    std::optional<std::string> receiveIncrementally(Atom* typeOut) {
        std::string all;
        for (;;) {
            XEvent event;
            if (!waitFor(PropertyNotify, event)) return std::nullopt;
            if (event.xproperty.atom != property_ || event.xproperty.state != PropertyNewValue) continue;
            Atom type = None;
            int format = 0;
            const std::string chunk = takeProperty(type, format);
            if (typeOut) *typeOut = type;
            if (chunk.empty()) return all;
            all += chunk;
        }
    }

    std::string takeProperty(Atom& type, int& format) {
        unsigned long count = 0, after = 0;
        unsigned char* bytes = nullptr;
        std::string data;
        if (XGetWindowProperty(display_, window_, property_, 0, LONG_MAX / 4, True, AnyPropertyType, &type, &format,
                               &count, &after, &bytes) == Success && bytes) {
            // Xlib hands 32-bit items over as longs.
            const std::size_t unit = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
            data.assign(reinterpret_cast<const char*>(bytes), count * unit);
        }
        if (bytes) XFree(bytes);
        return data;
    }

    bool waitFor(int type, XEvent& event) {
        for (;;) {
            if (XCheckTypedWindowEvent(display_, window_, type, &event)) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
            if (left.count() <= 0) {
                timedOut_ = true;
                return false;
            }
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left.count()) + 1);
        }
    }

    Display* display_;
    Clock::time_point deadline_;
    Window window_ = 0;
    Atom clipboard_ = None, property_ = None, incr_ = None;
    bool timedOut_ = false;
};

std::vector<std::string> atomNames(Display* display, const std::string& atomList) {
    std::vector<Atom> atoms(atomList.size() / sizeof(Atom));
    std::copy_n(atomList.data(), atoms.size() * sizeof(Atom), reinterpret_cast<char*>(atoms.data()));
    std::vector<std::string> names;
    for (Atom atom : atoms) {
        char* name = atom == None ? nullptr : XGetAtomName(display, atom);
        names.emplace_back(name ? name : "");
        if (name) XFree(name);
    }
    return names;
}

bool hasPlainText(const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(), [](const std::string& name) { return name.rfind("text/plain", 0) == 0; });
}

}  // namespace

bool X11ClipboardReader::isDataTarget(std::string_view name) {
    if (name == "UTF8_STRING" || name == "STRING") return true;
    // Qt's own image format duplicates the real one.
    return name.find('/') != std::string_view::npos && name != "application/x-qt-image";
}

std::optional<std::vector<X11ClipboardReader::Item>> X11ClipboardReader::read(std::chrono::milliseconds limit) {
    X11Display connection;
    Display* display = connection.get();
    if (!display) return std::nullopt;
    std::vector<Item> items;
    if (XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False)) == None) return items;

    Requestor requestor(display, Clock::now() + limit);
    const auto targets = requestor.convert(XInternAtom(display, "TARGETS", False));
    if (!targets) return requestor.timedOut() ? std::nullopt : std::optional(items);
    const auto names = atomNames(display, *targets);
    const bool utf8 = std::find(names.begin(), names.end(), "UTF8_STRING") != names.end();
    bool haveText = hasPlainText(names);
    for (const auto& name : names) {
        if (!isDataTarget(name)) continue;
        const bool xString = name.find('/') == std::string::npos;
        if (xString && (haveText || (utf8 && name == "STRING"))) continue;  // the same text once more
        const auto data = requestor.convert(XInternAtom(display, name.c_str(), False));
        if (requestor.timedOut()) return std::nullopt;
        if (!data || data->empty()) continue;
        if (!xString) {
            items.emplace_back(QString::fromStdString(name), QByteArray::fromStdString(*data));
        } else {
            const QString text = name == "STRING" ? QString::fromLatin1(data->data(), static_cast<qsizetype>(data->size()))
                                                  : QString::fromStdString(*data);
            items.emplace_back(QStringLiteral("text/plain"), text.toUtf8());
            haveText = true;
        }
    }
    return items;
}

}  // namespace quorvel
