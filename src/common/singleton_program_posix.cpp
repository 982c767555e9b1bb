#include "singleton_program.h"

#include <QCryptographicHash>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <utility>

struct SingletonProgram::Hold {
    int fd;
};

SingletonProgram::SingletonProgram(QString key) : key(std::move(key)) {}

SingletonProgram::~SingletonProgram() = default;

// The guard is a socket bound to a name in Linux's abstract socket namespace:
// the name is visible to every process of the machine whatever its user or
// temporary folder, it vanishes when the last descriptor closes (the kernel
// closes it when the holder ends, even by SIGKILL), and SOCK_CLOEXEC keeps
// programs we start from inheriting it.
bool SingletonProgram::isRunning() {
    QByteArray name = "pavlune_guard_" + key.toUtf8();
    sockaddr_un address{};
    // Abstract names are bytes after a leading NUL; long keys go in hashed.
    if (name.size() + 1 > static_cast<int>(sizeof(address.sun_path))) {
        name = "pavlune_guard_" +
               QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), name.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close(fd);
        return true;
    }
    // Kept open until release(), or the process ends.
    hold = std::make_unique<Hold>(Hold{fd});
    return false;
}

// The name is unbound when its one descriptor closes.
void SingletonProgram::release() {
    if (!hold) return;
    close(hold->fd);
    hold.reset();
}
