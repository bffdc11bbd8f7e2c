#pragma once

// Finds a window's controls by their designer names. A control that is not
// there fails the test that asked for it, with its name, and the other
// tests go on.

#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>
#include <typeinfo>

namespace selavia::testing {

class MissingControl : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

template <typename T = QObject> T* control(const QObject* window, const char* name)
{
    T* found = window != nullptr ? window->findChild<T*>(QLatin1String(name)) : nullptr;
    // Thrown, not dereferenced: GoogleTest reports it as this test's failure.
    if (found == nullptr)
        throw MissingControl(std::string("no control named ") + name + " of type " +
                             typeid(T).name());
    return found;
}

} // namespace selavia::testing
