#pragma once

#include <QTest>
#include <array>
#include <tuple>
#include <utility>

// The columns of a data-driven test, by type and in order: columns() declares them in the _data
// function, row() adds a row, and fetch() hands the test its row, to be unpacked by name:
//   const auto [title, text] = Rows<QString, QString>::fetch();
template <typename... T> struct Rows
{
    static void columns() { declare(std::index_sequence_for<T...>()); }
    static void row(const char* tag, const T&... values) { (QTest::newRow(tag) << ... << values); }
    static std::tuple<T...> fetch() { return fetchAt(std::index_sequence_for<T...>()); }

private:
    // QTest keeps a column's name by pointer: the names live as long as the program.
    static constexpr std::array<const char*, 10> kNames{"0", "1", "2", "3", "4",
                                                        "5", "6", "7", "8", "9"};
    template <std::size_t... I> static void declare(std::index_sequence<I...>)
    {
        (QTest::addColumn<T>(kNames[I]), ...);
    }
    template <std::size_t... I> static std::tuple<T...> fetchAt(std::index_sequence<I...>)
    {
        return {*static_cast<T*>(QTest::qData(kNames[I], qMetaTypeId<T>()))...};
    }
};
