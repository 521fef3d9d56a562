// A data function's table in one call: one column, a row a case.
#pragma once

#include <QTest>

#include <initializer_list>
#include <utility>

namespace qta::test {

// Adds `column` and a row of it per case: {row name, value}.
template <class T>
void dataRows(const char* column, std::initializer_list<std::pair<const char*, T>> cases) {
    QTest::addColumn<T>(column);
    for (const auto& [name, value] : cases)
        QTest::newRow(name) << value;
}

} // namespace qta::test
