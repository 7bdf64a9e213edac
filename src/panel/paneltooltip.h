#pragma once

#include "panelcontent.h"

#include <QDateTime>
#include <QString>

// What the tooltip over an area says for these inputs.
QString panelTooltip(const PanelInputs &inputs, PanelArea area);

// The text to hand QToolTip so that it shows exactly `plain`. QToolTip reads a text as HTML when its
// first line looks like a tag, so a project named "R&D <b>x" would lose its "<b>" and turn bold;
// such a text goes over as escaped HTML that keeps its lines and never wraps.
QString toolTipShowingPlainText(const QString &plain);

// The reason of a failed fetch in words.
QString failureText(const PlanFailure &failure, const QString &credentialLocation);

// The projected use of a quota window: "at this pace, 100 % in 2 h 10 min", "lasts until reset",
// or empty when there is nothing to project. windowSeconds is the window's length.
QString paceText(double utilization, const QDateTime &resetsAt, qint64 windowSeconds, const QDateTime &now);
