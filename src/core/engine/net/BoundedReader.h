#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// Gathers one bounded piece of a peer's input (a reply, an answer) from the
// bytes as they arrive. It takes what belongs to it from the front of what
// it is offered and leaves the rest on the connection for what comes next.
class BoundedReader {
public:
    virtual ~BoundedReader() = default;

    // Takes bytes from the front of `ahead` and returns how many; never more
    // than room().
    virtual qsizetype take(QByteArrayView ahead) = 0;
    // It has what it waits for, or holds all it may: it takes nothing more.
    virtual bool over() const = 0;
    // How many more bytes it may hold.
    virtual qsizetype room() const = 0;
};
