#pragma once

#include <QIcon>

namespace kq::app {

enum class ChartTool { First, Previous, Next, Last, Enlarge, Restore };

// The picture of a button of the chart's toolbar, `size` pixels square.
QIcon chartToolIcon(ChartTool tool, int size);

} // namespace kq::app
