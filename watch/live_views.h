// The channel through which a run's changes reach the live views: a queue in
// Korvane's own memory that the run's thread fills and the views' thread
// drains (watch/live_views.cpp).
#pragma once
#include <windows.h>

#include <memory>

class ViewChannel;

// The channel of these views (the same one for every run shown in them); null
// when there are no views.
std::shared_ptr<ViewChannel> OpenViewChannel(HWND listView, HWND treeView);
