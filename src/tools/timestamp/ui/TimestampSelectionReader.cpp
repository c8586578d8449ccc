#include "tools/timestamp/ui/TimestampSelectionReader.h"

#include <xcb/xcb.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// Far beyond any timestamp: a larger text is not held, and nothing is pasted.
constexpr qsizetype maxTextBytes = 64 * 1024 * 1024;
// One property request reads at most this many 32-bit units.
constexpr uint32_t chunkUnits = 256 * 1024;

}  // namespace

TimestampSelectionReader::TimestampSelectionReader(int ownerTimeoutMs)
    : m_timeoutMs(ownerTimeoutMs), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

TimestampSelectionReader::~TimestampSelectionReader()
{
    disconnect();
    if (m_wake >= 0)
        close(m_wake);
}

void TimestampSelectionReader::stop()
{
    m_stopped = true;
    if (m_wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof one);
    }
}

bool TimestampSelectionReader::connectOnce()
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    disconnect();
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(c);
        return false;
    }
    m_connection = c;
    m_window = xcb_generate_id(c);
    // Property changes on the window carry the pieces of a large text.
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const char* names[] = {"CLIPBOARD",  "TARGETS", "UTF8_STRING", "TEXT", "text/plain;charset=utf-8",
                           "text/plain", "INCR",    "QUORRIX_CLIPBOARD"};
    uint32_t* atoms[] = {&m_clipboard, &m_targets, &m_utf8, &m_text, &m_plainUtf8, &m_plain, &m_incr, &m_property};
    xcb_intern_atom_cookie_t cookies[std::size(names)];
    for (size_t i = 0; i < std::size(names); ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(names[i])), names[i]);
    bool ok = true;
    for (size_t i = 0; i < std::size(names); ++i) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        ok = ok && reply;
        if (reply)
            *atoms[i] = reply->atom;
    }
    if (!ok)
        disconnect();
    return ok;
}

void TimestampSelectionReader::disconnect()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

std::optional<uint32_t> TimestampSelectionReader::waitFor(int type, uint32_t atom, const QDeadlineTimer& deadline)
{
    const int fd = xcb_get_file_descriptor(m_connection);
    for (;;) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(m_connection)) {
            const Reply<xcb_generic_event_t> event(raw);
            const int kind = event->response_type & ~0x80;
            if (kind == type && kind == XCB_SELECTION_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(raw);
                if (notify->requestor == m_window && notify->selection == m_clipboard && notify->target == atom)
                    return notify->property;
            } else if (kind == type && kind == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(raw);
                if (notify->window == m_window && notify->atom == atom && notify->state == XCB_PROPERTY_NEW_VALUE)
                    return notify->atom;
            }
        }
        if (m_stopped || xcb_connection_has_error(m_connection))
            return std::nullopt;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return std::nullopt;
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        poll(fds, 2, int(left));
    }
}

std::optional<TimestampSelectionReader::Converted> TimestampSelectionReader::takeProperty()
{
    Converted out;
    uint32_t offset = 0;
    for (;;) {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY, offset, chunkUnits),
            nullptr));
        if (!reply)
            return std::nullopt;
        const int length = xcb_get_property_value_length(reply.get());
        out.type = reply->type;
        out.data.append(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
        if (out.data.size() > maxTextBytes)
            return std::nullopt;
        if (reply->bytes_after == 0 || length == 0)
            break;
        offset += uint32_t(length) / 4;
    }
    // Deleting the property tells the owner it was read.
    xcb_delete_property(m_connection, m_window, m_property);
    xcb_flush(m_connection);
    return out;
}

std::optional<TimestampSelectionReader::Converted> TimestampSelectionReader::convert(uint32_t target)
{
    xcb_delete_property(m_connection, m_window, m_property);
    xcb_convert_selection(m_connection, m_window, m_clipboard, target, m_property, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
    const std::optional<uint32_t> property = waitFor(XCB_SELECTION_NOTIFY, target, QDeadlineTimer(m_timeoutMs));
    // No answer in time, or a refusal.
    if (!property || *property == XCB_NONE)
        return std::nullopt;
    std::optional<Converted> first = takeProperty();
    if (!first || first->type != m_incr)
        return first;
    // A large text comes in pieces, each announced by a new value of the property; an empty
    // piece ends it. Each piece gets the full deadline.
    Converted whole;
    for (;;) {
        if (!waitFor(XCB_PROPERTY_NOTIFY, m_property, QDeadlineTimer(m_timeoutMs)))
            return std::nullopt;
        std::optional<Converted> piece = takeProperty();
        if (!piece)
            return std::nullopt;
        if (piece->data.isEmpty())
            return whole;
        whole.type = piece->type;
        whole.data += piece->data;
        if (whole.data.size() > maxTextBytes)
            return std::nullopt;
    }
}

bool TimestampSelectionReader::ownerPresent()
{
    Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, m_clipboard), nullptr));
    return reply && reply->owner != XCB_NONE;
}

std::optional<QList<uint32_t>> TimestampSelectionReader::targets()
{
    const std::optional<Converted> answer = convert(m_targets);
    if (!answer || answer->data.size() % 4 != 0)
        return std::nullopt;
    QList<uint32_t> atoms(answer->data.size() / 4);
    std::memcpy(atoms.data(), answer->data.constData(), size_t(answer->data.size()));
    return atoms;
}

std::optional<uint32_t> TimestampSelectionReader::textTarget(const QList<uint32_t>& offered) const
{
    for (uint32_t wanted : {m_utf8, m_plainUtf8, uint32_t(XCB_ATOM_STRING), m_text, m_plain})
        if (offered.contains(wanted))
            return wanted;
    return std::nullopt;
}

void TimestampSelectionReader::check()
{
    bool hasText = false;
    if (!m_stopped && connectOnce() && ownerPresent())
        if (const auto offered = targets())
            hasText = textTarget(*offered).has_value();
    emit checked(hasText);
}

void TimestampSelectionReader::read()
{
    if (!m_stopped && connectOnce() && ownerPresent()) {
        const auto offered = targets();
        const auto target = offered ? textTarget(*offered) : std::nullopt;
        if (const auto answer = target ? convert(*target) : std::nullopt) {
            // STRING is Latin-1; the other text forms are UTF-8.
            emit finishedReading(true, answer->type == XCB_ATOM_STRING ? QString::fromLatin1(answer->data)
                                                                       : QString::fromUtf8(answer->data));
            return;
        }
    }
    emit finishedReading(false, QString());
}
