// LaunchTrace: the one object a run owns. Every section of the report is one of
// its operations, defined with its subsystem (named beside each below); this
// header is where the subsystems meet, so it holds only fields and operations.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/log_stream.h"
#include "modules/file_facts.h"
#include "modules/module_facts.h"
#include "verdict/findings.h"
#include "watch/live_views.h"

class LaunchTrace {
public:
    // Opens the log, switches the debug privilege on, empties both views (watch/launch_trace.cpp).
    LaunchTrace(std::wstring targetPathIn, HWND listViewIn, HWND treeViewIn);
    // Paints what the views hold back, however the run ended; switches the debug privilege off.
    ~LaunchTrace();
    LaunchTrace(const LaunchTrace&) = delete;
    LaunchTrace& operator=(const LaunchTrace&) = delete;

    // watch/debug_loop.cpp: launches the target and writes the whole log.
    void RunDebugLoop();
    // watch/live_views.cpp: the list view row of a module and the tree view line
    // of a thread, queued for the views' thread, which shows them within a frame.
    void ClearViews();
    void AddModuleRow(const std::vector<std::wstring>& row);
    void AddEventItem(DWORD threadId, std::wstring line);
    // The version columns of rows that AddModuleRow showed before their facts
    // were read: each fills the row its file name and directory added, once.
    void FillModuleRows(const std::vector<std::vector<std::wstring>>& rows);
    // Opens the item of a thread id and scrolls its last line into sight.
    void RevealEventItem(DWORD threadId);
    // Returns once the views show every change so far, painted.
    void PaintViews();

    // diag/: the machine description.
    void WriteOsLine();
    void WriteDesktopHeapInfo();
    void WriteAppInitDlls();
    void WriteProcessInventory();
    // The image files of the processes running now, read beside the run, so
    // that the inventory at its end finds most of them read.
    void ReadRunningImagesAhead();

    // modules/loaded_modules.cpp: the loaded-modules section; fills reportedModules.
    void WriteLoadedModules();
    // verdict/verdict_section.cpp: the last section, why the program did not
    // start, from processOutcomes; fills verdict and adds its tree view item.
    void WriteVerdict();

    // report/log_file.cpp: the log, and the writing rule every section follows.
    void OpenLog();
    void CloseAndShowLog();
    void WriteLogLine(std::wstring_view text);
    // report/upload.cpp
    void UploadReport();

    std::wstring targetPath;
    LogStream log;
    DWORD lastExitCode = 0;
    std::vector<std::wstring> modulePaths;
    std::vector<std::wstring> runningImagePaths;
    std::vector<FileFacts> runningImageFacts;
    std::vector<FileFacts> reportedModules;
    HWND listView;
    HWND treeView;
    std::shared_ptr<ViewChannel> liveViews;
    // The facts of every module file of the run, read beside the debuggee.
    ModuleFactsReader moduleFacts;
    // The initialisation watch's breakpoints; off only where a run is compared with one without them.
    bool watchInitialisations = true;
    unsigned long long watchEvents = 0;  // the debug events its breakpoints raised
    std::vector<ProcessOutcome> processOutcomes;  // one per process exit, in exit order
    std::vector<Finding> verdict;
};
