#pragma once
// One running copy per user. The first copy listens on a local socket in the abstract namespace
// (nothing on disk, so a killed copy leaves no stale socket behind); a later copy connects,
// hands over a message ("come to front") and learns the first copy's process id from the
// socket's peer credentials. Neither side waits for the other's event loop. Main thread only.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

class QLocalServer;

namespace quorvel {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { primary, secondary, failed };

    static constexpr const char* kComeToFront = "come-to-front";

    // `key` names the socket; the default is per user and display: "com.brellun.quorvel." + the
    // user id, then "." + the X display when there is one. A user logged in on two displays runs
    // one copy on each, since hot keys and pasting belong to a display.
    explicit SingleInstance(QString key = defaultKey(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultKey();

    // Becomes the primary copy, or — when one runs — sends it `message` and reports secondary.
    // Racing starts end with exactly one primary. Failed when the name is held by a process of
    // another user (abstract socket names have no permissions) or cannot be taken.
    Role start(const std::string& message = kComeToFront);

    Role role() const { return role_; }
    // The primary copy's process id, known to a secondary copy.
    std::optional<pid_t> primaryPid() const { return primaryPid_; }

    // On the primary copy: each message a later copy sent, one call per line.
    std::function<void(const std::string& message)> onMessage;

private:
    bool tellRunningCopy(const std::string& message);
    void acceptConnections();

    QString key_;
    QLocalServer* server_ = nullptr;
    Role role_ = Role::failed;
    std::optional<pid_t> primaryPid_;
    bool foreignHolder_ = false;  // the name is held by another user's process
};

}  // namespace quorvel
