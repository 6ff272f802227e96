#pragma once
// The operator's guide that F1 opens: operator.md in the package's
// documentation folder, beside a Windows program in docs\, or in the source
// tree a build folder lies in.

#include <QString>

// The first of those that exists for a program in program_dir; empty when
// none does.
QString operator_guide_path(const QString &program_dir);

// What F1 says when it cannot show the guide (none found, path empty, or
// none of the desktop's programs opened it): where the guide is to be had,
// and the keys an operator needs most.
QString operator_guide_text(const QString &path);
