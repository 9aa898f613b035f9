#pragma once
// A stand-in for ActiveQt's QAxObject, so that the Windows client compiles and runs where there is no COM.
// It declares only the documented QAxBase/QAxObject members the client uses, with their signatures, and
// records every call (object, member, signature string, arguments with their types) for tests to read.

#include <QEvent>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

class QAxObject;

namespace axstandin {

// One recorded call: "<object> <member> <signature or name> [<type>:<value>, ...]".
QStringList &Calls();
void Reset();
// What the stand-in answers.
extern bool ControlAvailable;          // setControl succeeds
extern bool DocumentsAvailable;        // querySubObject("Documents") gives an object
extern QSet<QString> UnopenablePaths;  // Open(...) gives null for these
extern QSet<QString> UnprintablePaths; // PrintOut on these raises an exception (no printer)
// Runs inside a dynamicCall or querySubObject, after it was recorded (e.g. an abort arriving meanwhile).
extern std::function<void(const QString &object, const QString &member)> DuringCall;

} // namespace axstandin

class QAxBase
{
public:
    virtual ~QAxBase() = default;

    bool setControl(const QString &c);
    bool isNull() const;
    QVariant dynamicCall(const char *name, const QVariant &v1 = QVariant(), const QVariant &v2 = QVariant(),
                         const QVariant &v3 = QVariant(), const QVariant &v4 = QVariant(),
                         const QVariant &v5 = QVariant(), const QVariant &v6 = QVariant(),
                         const QVariant &v7 = QVariant(), const QVariant &v8 = QVariant());
    QAxObject *querySubObject(const char *name, const QVariant &v1 = QVariant(),
                              const QVariant &v2 = QVariant(), const QVariant &v3 = QVariant(),
                              const QVariant &v4 = QVariant(), const QVariant &v5 = QVariant(),
                              const QVariant &v6 = QVariant(), const QVariant &v7 = QVariant(),
                              const QVariant &v8 = QVariant());

protected:
    virtual QObject *qObject() = 0;
    QString control_;
};

class QAxObject : public QObject, public QAxBase
{
    Q_OBJECT
public:
    explicit QAxObject(QObject *parent = nullptr);
    ~QAxObject() override;

    // QObject::setProperty on a name the object does not declare arrives here as a dynamic property.
    bool event(QEvent *e) override;

signals:
    // As ActiveQt's: emitted when the server raises an exception in a call.
    void exception(int code, const QString &source, const QString &desc, const QString &help);

protected:
    QObject *qObject() override { return this; }
};
