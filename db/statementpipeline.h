#pragma once
#include <QString>
#include <QStringList>

// A database driver that can send statements without waiting for the answer to each one. Every
// wait for the server costs a round trip, and a workstation at a resort's site reaches the head
// office's database over a slow link. The statement runner uses these calls where the driver
// offers them; with any other driver (Oracle's) every statement waits for its answer, as before.
class StatementPipeline
{
public:
    virtual ~StatementPipeline() = default;

    // Sends a SELECT (text with positional placeholders, values as text) without waiting for
    // its rows. When the same text with the same values runs next, it takes these rows instead
    // of asking again. Rows not taken are forgotten as soon as another statement runs, a
    // transaction starts or ends, or the connection closes, so they are never stale.
    virtual void sendAhead(const QString &text, const QStringList &values) = 0;

    // The next statement run is part of a transaction and nobody asks for its count of rows: it
    // may wait, unsent, until a statement that needs an answer or the commit goes out, and
    // travel with it. Its failure is then reported by that statement or by the commit.
    virtual void deferNextStatement() = 0;

    // The rows changed by the writes of the transaction begun last, deferred ones included: after
    // its commit, the count a caller needs without making each write wait for its answer.
    virtual int transactionRowsAffected() const = 0;
};
