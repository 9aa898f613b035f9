#include "QAxObject"
#include "objbase.h"

#include <QDynamicPropertyChangeEvent>

namespace axstandin {

QStringList &Calls()
{
    static QStringList calls;
    return calls;
}

bool ControlAvailable = true;
bool DocumentsAvailable = true;
QSet<QString> UnopenablePaths;
QSet<QString> UnprintablePaths;
std::function<void(const QString &, const QString &)> DuringCall;

void Reset()
{
    Calls().clear();
    ControlAvailable = true;
    DocumentsAvailable = true;
    UnopenablePaths.clear();
    UnprintablePaths.clear();
    DuringCall = nullptr;
}

} // namespace axstandin

namespace {

QString Describe(const QVariant &v)
{
    return QString::fromLatin1(v.typeName()) + QLatin1Char(':') + v.toString();
}

// The arguments passed, up to the first one left at its default.
QString Arguments(std::initializer_list<const QVariant *> values)
{
    QStringList parts;
    for (const QVariant *v : values) {
        if (!v->isValid())
            break;
        parts << Describe(*v);
    }
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

void Record(QObject *object, const char *member, const QString &name, const QString &arguments)
{
    axstandin::Calls() << object->objectName() + QLatin1Char(' ') + QLatin1String(member) + QLatin1Char(' ') +
                              name + QLatin1Char(' ') + arguments;
}

} // namespace

long CoInitializeEx(void *reserved, unsigned long coInit)
{
    axstandin::Calls() << QStringLiteral("CoInitializeEx %1 %2")
                              .arg(reserved ? QStringLiteral("non-null") : QStringLiteral("null"))
                              .arg(coInit == COINIT_MULTITHREADED ? QStringLiteral("COINIT_MULTITHREADED")
                                                                  : QString::number(coInit));
    return 0;
}

QAxObject::QAxObject(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("object"));
}

QAxObject::~QAxObject()
{
    axstandin::Calls() << objectName() + QStringLiteral(" destroyed");
}

bool QAxObject::event(QEvent *e)
{
    if (e->type() == QEvent::DynamicPropertyChange) {
        const QByteArray name = static_cast<QDynamicPropertyChangeEvent *>(e)->propertyName();
        const QVariant value = property(name.constData());
        Record(this, "setProperty", QString::fromLatin1(name), Arguments({&value}));
        return true;
    }
    return QObject::event(e);
}

bool QAxBase::setControl(const QString &c)
{
    qObject()->setObjectName(QStringLiteral("application"));
    Record(qObject(), "setControl", c, QStringLiteral("[]"));
    if (!axstandin::ControlAvailable)
        return false;
    control_ = c;
    return true;
}

bool QAxBase::isNull() const
{
    return control_.isEmpty();
}

QVariant QAxBase::dynamicCall(const char *name, const QVariant &v1, const QVariant &v2, const QVariant &v3,
                              const QVariant &v4, const QVariant &v5, const QVariant &v6, const QVariant &v7,
                              const QVariant &v8)
{
    Record(qObject(), "dynamicCall", QString::fromLatin1(name),
           Arguments({&v1, &v2, &v3, &v4, &v5, &v6, &v7, &v8}));
    if (axstandin::DuringCall)
        axstandin::DuringCall(qObject()->objectName(), QString::fromLatin1(name));
    const QString object = qObject()->objectName();
    if (QByteArray(name).startsWith("PrintOut(") &&
        axstandin::UnprintablePaths.contains(object.mid(object.indexOf(QLatin1Char(':')) + 1)))
        emit static_cast<QAxObject *>(qObject())->exception(
            0x800A1066, QStringLiteral("stand-in"), QStringLiteral("There is no printer."), QString());
    return QVariant();
}

QAxObject *QAxBase::querySubObject(const char *name, const QVariant &v1, const QVariant &v2,
                                   const QVariant &v3, const QVariant &v4, const QVariant &v5,
                                   const QVariant &v6, const QVariant &v7, const QVariant &v8)
{
    Record(qObject(), "querySubObject", QString::fromLatin1(name),
           Arguments({&v1, &v2, &v3, &v4, &v5, &v6, &v7, &v8}));
    if (axstandin::DuringCall)
        axstandin::DuringCall(qObject()->objectName(), QString::fromLatin1(name));
    const QString member = QString::fromLatin1(name);
    QAxObject *child = nullptr;
    if (member == QLatin1String("Documents") && axstandin::DocumentsAvailable) {
        child = new QAxObject(qObject());
        child->setObjectName(QStringLiteral("documents"));
    } else if (member.startsWith(QLatin1String("Open(")) &&
               !axstandin::UnopenablePaths.contains(v1.toString())) {
        child = new QAxObject(qObject());
        child->setObjectName(QStringLiteral("document:") + v1.toString());
    }
    return child;
}
