#pragma once
// A year of snapshots for the benchmarks of the picture query window: a
// CAPPICTURE table of 1,000,000 rows over 365 days, and the window's
// figures on it beside their targets.

#include <QByteArray>
#include <QDate>
#include <QElapsedTimer>
#include <QString>

namespace tarvelo::bench {

constexpr int YearRows = 1000000;

double residentMb();
double msSince(const QElapsedTimer& t);

// About 2 KB, stored apart from the table's row as every real picture is.
QByteArray smallPicture();

// Creates the table, the year's rows (each with `picture`) and the
// CAPTIME index.
void fillYear(const QString& connection, bool postgres, int year, const QByteArray& picture);

// Opens the window as the user does, searches `day` and then the whole
// year, moves to the last row and down the result, and prints each figure
// beside its target under `name`. Without row keys the rows are listed by
// their fields, as a SQL Server's are.
void measureQueryWindow(const QString& name, const QString& connection, int year, QDate day, bool rowKeys = true);

}  // namespace tarvelo::bench
