#pragma once

#include <QtGlobal>

// How much any peer may send a client before what it sent is cut off and
// judged, in one place. A broken or hostile server can then neither hold
// more of our memory than this nor keep a reader going for ever.
namespace InputBounds {

// Received bytes a plain connection holds before the reader takes them.
inline constexpr qsizetype ConnectionBuffer = 4 * 1024 * 1024;
// A probe's answer: a web page, or a greeting line.
inline constexpr qsizetype HttpAnswer = 1024 * 1024;
inline constexpr qsizetype GreetingAnswer = 64 * 1024;
// A proxy's answer to the tunnel request, up to its empty line.
inline constexpr qsizetype ProxyAnswer = 64 * 1024;
// One SMTP reply, all its lines together.
inline constexpr qsizetype SmtpReply = 64 * 1024;
// The update check's download.
inline constexpr qint64 Download = 1024 * 1024;

} // namespace InputBounds
