#pragma once
// Raw TDS for the tests that must send what no driver sends, or look at what the server sends.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

constexpr int Patience = 60000; // ms; generous, the machine may be busy

// One packet (type, status, length, SPID 0, packet number 1) around payload.
QByteArray packet(quint8 type, const QByteArray &payload, quint8 status = 0x01);
QByteArray ucs2(const QString &s);
// A PRELOGIN payload with VERSION and ENCRYPTION (0x02: not supported).
QByteArray preLogin(quint8 encryption = 0x02);
// A LOGIN7 record with SQL Server authentication, TDS 7.4, packet size 4096; the language
// field empty unless given.
QByteArray login7(const QString &user, const QString &password, const QString &database,
                  const QString &language = QString());
// ALL_HEADERS with one transaction descriptor header, as a batch starts.
QByteArray allHeaders();
// Reads one whole answer (until a packet with end-of-message); empty when the server closed.
QByteArray readAnswer(QTcpSocket &socket);
// Reads an answer's packets until its tokens so far hold word (as tokenWords gives them, e.g.
// "ERROR 50000") or the answer ends (*ended); what was read.
QByteArray readAnswerUntil(QTcpSocket &socket, const QString &word, bool *ended = nullptr);
// The tokens of an answer in a few words: "INFO 0", "ERROR 50000", "RETURNSTATUS 1",
// "DONEINPROC MORE|COUNT 1" (the count only with COUNT), "DONE", and for a result of integer
// columns "COLMETADATA 2" and "ROW 5,NULL"; other tokens, and a token not whole, stop the reading.
QStringList tokenWords(const QByteArray &answer);
// Where each ERROR and INFO token of an answer says it was raised: "ERROR 50000 at
// dbo.CreateStarasta:12", "ERROR 208 at :3" (no procedure), in their order.
QStringList messagePlaces(const QByteArray &answer);
// An RPC request calling the procedure by name with int arguments.
QByteArray rpcCall(const QString &procedure, const QList<qint32> &arguments);
// Connects the socket to the server on 127.0.0.1:port and signs in, in clear (a test check; call
// it under QEL31_CHECKED).
void signInRaw(QTcpSocket &socket, quint16 port, const QString &user, const QString &password);
// Waits until the server has closed the connection.
bool waitClosed(QTcpSocket &socket);
