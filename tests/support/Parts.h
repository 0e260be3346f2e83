#pragma once
// A window's controls, found as a user's script finds them: by the names
// of the window's design.

#include <QObject>
#include <QString>
#include <gtest/gtest.h>
#include <type_traits>

namespace tarvelo::test {

// `window` is the window or anything that points at it.
template <typename T, typename Window>
T* part(const Window& window, const char* name)
{
    const QObject* object = nullptr;
    if constexpr (std::is_base_of_v<QObject, Window>)
        object = &window;
    else
        object = &*window;
    T* found = object->findChild<T*>(QLatin1String(name));
    if (!found)
        ADD_FAILURE() << object->objectName().toStdString() << " has no control named " << name;
    return found;
}

}  // namespace tarvelo::test
