#pragma once

// FakeService: a scripted HTTP/1.1 service on 127.0.0.1 for tests, header-only. Every request is
// recorded and answered from the script in arrival order (then the fallback), each on its own
// connection ("Connection: close"). Qt resends a request once by itself after a hang-up, so a
// test that wants a transport failure makes hangUp() the fallback.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <optional>

class FakeService
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray path; // as sent, with the query
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        std::optional<QByteArray> header(const QByteArray &name) const
        {
            for (const auto &[key, value] : headers)
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    return value;
            return std::nullopt;
        }
    };

    struct Reply
    {
        int statusCode = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool closeWithoutAnswer = false;
        qsizetype missingBytes = 0; // announced in Content-Length but never sent

        static Reply status(int code, QByteArray body = {}) { return {code, {}, std::move(body), false, 0}; }
        static Reply json(QByteArray body) { return {200, {{"Content-Type", "application/json"}}, std::move(body), false, 0}; }
        static Reply hangUp() { return {0, {}, {}, true, 0}; }
        static Reply cutOff(int code, QByteArray partialBody) { return {code, {}, std::move(partialBody), false, 1000}; }
    };

    FakeService()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    Q_DISABLE_COPY_MOVE(FakeService)

    QUrl url(const QString &path) const { return urlOn(m_server.serverPort(), path); }
    // On a port that was free a moment ago: the connection is refused.
    static QUrl closedPortUrl(const QString &path)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return urlOn(probe.serverPort(), path);
    }
    static QUrl urlOn(quint16 port, const QString &path)
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    }

    void enqueue(Reply reply) { m_script.append(std::move(reply)); }
    void setFallback(Reply reply) { m_fallback = std::move(reply); }
    const QList<Request> &requests() const { return m_requests; }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            // The server owns the socket; it also goes away once the peer disconnects.
            QObject::connect(socket, &QTcpSocket::readyRead, &m_server, [this, socket] { consume(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, &m_server, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void consume(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("content-length", Qt::CaseInsensitive) == 0)
                contentLength = value.toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + contentLength)
            return; // body still arriving
        request.body = buffer.mid(headerEnd + 4, contentLength);
        m_buffers.remove(socket);
        m_requests.append(request);
        answer(socket, m_script.isEmpty() ? m_fallback : m_script.takeFirst());
    }

    static void answer(QTcpSocket *socket, const Reply &reply)
    {
        if (reply.closeWithoutAnswer) {
            socket->abort();
            return;
        }
        QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.statusCode) + " Scripted\r\n";
        for (const auto &[name, value] : reply.headers)
            response += name + ": " + value + "\r\n";
        response += "Content-Length: " + QByteArray::number(reply.body.size() + reply.missingBytes)
            + "\r\nConnection: close\r\n\r\n";
        response += reply.body;
        socket->write(response);
        socket->disconnectFromHost(); // after the bytes are written
    }

    QTcpServer m_server;
    QList<Request> m_requests;
    QList<Reply> m_script;
    Reply m_fallback = Reply::status(500);
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
