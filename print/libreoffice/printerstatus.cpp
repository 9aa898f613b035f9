#include "print/libreoffice/printerstatus.h"

QString ProblemText(cupsqueue::Problem problem, const std::string &destination)
{
    const QString name = QString::fromStdString(destination);
    switch (problem) {
    case cupsqueue::Problem::None:
        return QString();
    case cupsqueue::Problem::Stopped:
        return QStringLiteral("默认打印机“%1”已停止,无法打印!").arg(name);
    case cupsqueue::Problem::NotAccepting:
        return QStringLiteral("默认打印机“%1”不接受打印任务,无法打印!").arg(name);
    case cupsqueue::Problem::Gone:
        return QStringLiteral("默认打印机“%1”已被删除,无法打印!").arg(name);
    }
    return QString();
}

QString DestinationText(const cupsqueue::Destination &destination)
{
    switch (destination.state) {
    case cupsqueue::Destination::State::Ready:
        return QString();
    case cupsqueue::Destination::State::NoServer:
        return QStringLiteral("无法连接打印服务,无法打印!");
    case cupsqueue::Destination::State::NoDefault:
        return QStringLiteral("没有默认打印机,无法打印!");
    case cupsqueue::Destination::State::Stopped:
        return ProblemText(cupsqueue::Problem::Stopped, destination.name);
    case cupsqueue::Destination::State::NotAccepting:
        return ProblemText(cupsqueue::Problem::NotAccepting, destination.name);
    }
    return QString();
}
