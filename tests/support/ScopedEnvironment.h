#pragma once

// Sets environment variables for one test and puts them back afterwards.

#include <QByteArray>
#include <QtGlobal>
#include <map>
#include <optional>

namespace selavia::testing {

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }

    // nullopt unsets the variable.
    ScopedEnvironment& set(const QByteArray& name, std::optional<QByteArray> value)
    {
        if (!saved_.contains(name))
            saved_[name] = qEnvironmentVariableIsSet(name.constData())
                               ? std::optional<QByteArray>(qgetenv(name.constData()))
                               : std::nullopt;
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
        return *this;
    }

private:
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};

} // namespace selavia::testing
