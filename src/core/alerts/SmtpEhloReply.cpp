#include "alerts/SmtpEhloReply.h"

namespace {

// A SASL mechanism name: 1 to 20 letters, digits, "-" or "_".
bool isMechanismName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 20)
        return false;
    for (const char c : name) {
        if (!(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') &&
            c != '-' && c != '_')
            return false;
    }
    return true;
}

} // namespace

SmtpEhloReply::SmtpEhloReply(const QByteArray &reply)
{
    for (QByteArray line : reply.split('\n')) {
        line = line.trimmed();
        if (line.size() >= 4 && (line.at(3) == '-' || line.at(3) == ' '))
            m_lines.append(line.mid(4));
    }
}

bool SmtpEhloReply::offers(const QByteArray &keyword) const
{
    for (const QByteArray &line : m_lines) {
        if (line.trimmed().split(' ').value(0).compare(keyword, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QList<QByteArray> SmtpEhloReply::logins() const
{
    QList<QByteArray> names;
    for (const QByteArray &line : m_lines) {
        const QByteArray text = line.simplified();
        if (text.size() < 5 || (text.at(4) != ' ' && text.at(4) != '=') ||
            text.first(4).compare("AUTH", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &name : text.mid(5).split(' ')) {
            const QByteArray upper = name.toUpper();
            if (isMechanismName(upper) && !names.contains(upper) && names.size() < MechanismsKept)
                names.append(upper);
        }
    }
    return names;
}
