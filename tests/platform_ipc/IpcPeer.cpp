// The other process of the named-object tests. One subcommand per role:
//   hold-event NAME           create the event, print "created" or "exists", then obey
//                             stdin lines ("signal") until stdin ends
//   wait-event NAME TIMEOUT   open, print "waiting", wait; exit 0 signalled, 1 timeout,
//                             2 missing, 3 abandoned or error
//   signal-event NAME         open and signal; exit 0 on success
//   hold-mapping NAME HEX     create the mapping, print "created" or "exists", hold it
//                             until stdin ends
//   read-mapping NAME SIZE    print the bytes read in hex; exit 1 on failure
//   serve-port                register a port on the main thread, print its handle and
//                             serve until message 0x0010; 0x8001 adds wParam to a sum
//                             that 0x8003 answers; others answer wParam + lParam, plus
//                             1000000 when run on the main thread
//   handover NAME HEX PORT    hold the mapping and send 0x8002 with its size to PORT;
//                             print the result, exit 1 when the send failed
// Raw roles that take a socket path as it is (a name of another user's object):
//   squat SOCKET [HEX]        listen on the name, print "listening" (or "taken"), then
//                             "connection" for each one; answer every request with the
//                             bytes HEX, or never
//   probe SOCKET HEX          connect, send the bytes HEX, print "refused" (no
//                             connection), "answered" (bytes came back), "dropped"
//                             (closed without an answer) or "silent" (nothing in 3 s)
// And a prefix for any role, run as root: as-uid UID ROLE... drops to that user first.
#include "platform/NamedObjects.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <grp.h>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
void Say(const QByteArray& text) {
  std::fputs(text.constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Blocks until the test closes our stdin (or kills us); runs each line it reads.
void HoldUntilStdinEnds(lb::TNamedEvent* event) {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "signal" && event) Say(event->Signal() ? "signalled" : "failed");
  }
}

// Answers every whole frame that arrives on the socket with the same bytes.
void AnswerFrames(QLocalSocket* socket, const QByteArray& answer) {
  auto buffer = std::make_shared<QByteArray>();
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, answer] {
    buffer->append(socket->readAll());
    uint8_t op = 0;
    QByteArray body;
    while (lb::wire::TakeFrame(*buffer, op, body, 1 << 20) == lb::wire::TTake::Frame)
      socket->write(answer);
  });
}

int Probe(const QString& socketName, const QByteArray& bytes) {
  QLocalSocket socket;
  socket.connectToServer(socketName);
  if (!socket.waitForConnected(3000)) {
    Say("refused");
    return 0;
  }
  socket.write(bytes);
  socket.waitForBytesWritten(3000);
  if (socket.waitForReadyRead(3000) || socket.bytesAvailable() > 0)
    Say("answered");
  else
    Say(socket.state() == QLocalSocket::ConnectedState ? "silent" : "dropped");
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "as-uid") {
    const auto uid = uid_t(std::stoul(argv[2]));
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0) return 65;
    argv += 2;
    argc -= 2;
  }
  if (argc < 2) return 64;
  QCoreApplication app(argc, argv);
  const std::string cmd = argv[1];
  auto arg = [&](int i) { return i < argc ? QString::fromLocal8Bit(argv[i]) : QString(); };

  if (cmd == "hold-event") {
    lb::TNamedEvent event;
    const lb::TCreateResult r = event.Create(arg(2), false, false);
    Say(r == lb::TCreateResult::Created         ? "created"
        : r == lb::TCreateResult::AlreadyExists ? "exists"
                                                : "failed");
    HoldUntilStdinEnds(&event);
    return 0;
  }
  if (cmd == "wait-event") {
    lb::TNamedEvent event;
    if (!event.Open(arg(2))) {
      Say("missing");
      return 2;
    }
    Say("waiting");
    switch (event.Wait(arg(3).toUInt())) {
      case wrSignaled:
        return 0;
      case wrTimeout:
        return 1;
      default:
        return 3;
    }
  }
  if (cmd == "signal-event") {
    lb::TNamedEvent event;
    return event.Open(arg(2)) && event.Signal() ? 0 : 1;
  }
  if (cmd == "hold-mapping") {
    lb::TNamedMapping mapping;
    const lb::TCreateResult r =
        mapping.CreateExclusive(arg(2), QByteArray::fromHex(arg(3).toLatin1()));
    Say(r == lb::TCreateResult::Created         ? "created"
        : r == lb::TCreateResult::AlreadyExists ? "exists"
                                                : "failed");
    HoldUntilStdinEnds(nullptr);
    return 0;
  }
  if (cmd == "read-mapping") {
    lb::TNamedMapping mapping;
    if (!mapping.Open(arg(2), arg(3).toLongLong())) return 1;
    Say(mapping.Data().toHex());
    return 0;
  }

  if (cmd == "serve-port") {
    lb::TMessagePort port;
    int posted = 0;
    const lb::TPortHandle handle = port.Register([&](uint32_t msg, uint64_t w, int64_t l) {
      const bool onMain = QThread::currentThread() == app.thread();
      switch (msg) {
        case 0x0010:
          QTimer::singleShot(0, &app, &QCoreApplication::quit);
          return int64_t(7);
        case 0x8001:
          posted += int(w);
          return int64_t(0);
        case 0x8003:
          return int64_t(posted);
      }
      return int64_t(w) + l + (onMain ? 1000000 : 0);
    });
    if (!handle) return 1;
    Say(QByteArray::number(qlonglong(handle)));
    return app.exec();
  }
  if (cmd == "handover") {
    lb::TNamedMapping mapping;
    const QByteArray bytes = QByteArray::fromHex(arg(3).toLatin1());
    if (mapping.CreateExclusive(arg(2), bytes) != lb::TCreateResult::Created) return 2;
    const auto result =
        lb::TMessagePort::SendMessage(arg(4).toLongLong(), 0x8002, uint64_t(bytes.size()), 0);
    if (!result) return 1;
    Say(QByteArray::number(qlonglong(*result)));
    return 0;
  }
  if (cmd == "squat") {
    QLocalServer server;
    QLocalServer::removeServer(arg(2));  // a socket file left behind, when allowed
    if (!server.listen(arg(2))) {
      Say("taken");
      return 1;
    }
    const QByteArray answer = QByteArray::fromHex(arg(3).toLatin1());
    QObject::connect(&server, &QLocalServer::newConnection, [&] {
      while (QLocalSocket* socket = server.nextPendingConnection()) {
        Say("connection");
        if (!answer.isEmpty()) AnswerFrames(socket, answer);
      }
    });
    Say("listening");
    return app.exec();
  }
  if (cmd == "probe") return Probe(arg(2), QByteArray::fromHex(arg(3).toLatin1()));
  return 64;
}
