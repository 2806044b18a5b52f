// Files dropped on the main window open in the viewer.
#pragma once

class CMainFrame;

void AcceptDroppedFiles(CMainFrame* frame);
