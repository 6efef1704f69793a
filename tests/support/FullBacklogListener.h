#pragma once

#include <QtGlobal>

// A listener on 127.0.0.1 whose queue of connections waiting to be accepted
// is full, so the system drops further connection requests unanswered: a
// connect to it neither succeeds nor fails, as with a host that does not
// answer, until release() makes room (the client's next retry of its
// request, about a second later, then gets through).
class FullBacklogListener {
public:
    FullBacklogListener() = default;
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener &) = delete;
    FullBacklogListener &operator=(const FullBacklogListener &) = delete;

    // Listens with no room beyond one connection and fills that room; false
    // when any step fails.
    bool open();
    quint16 port() const { return m_port; }
    // Makes room: waiting connection requests get through from now on.
    void release();

private:
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};
