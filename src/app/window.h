// The launcher's one window: class, controls, colours and the Play message.
#pragma once

#include <windows.h>

#include <string>

constexpr UINT WM_ENABLE_PLAY = WM_APP + 1;

constexpr int IDC_PLAY = 101;
constexpr int IDC_PROGRESS = 102;
constexpr int IDC_STATUS = 103;
constexpr int IDC_VERSION = 104;
constexpr int IDC_TITLE = 105;
// "Verificar arquivos do jogo" in the system menu; the system keeps the low four bits of its commands.
constexpr UINT IDM_CHECK_FILES = 0x0110;

constexpr wchar_t kWindowClass[] = L"VelmoraLauncher";
constexpr int kWindowWidth = 500;
constexpr int kWindowHeight = 300;

constexpr COLORREF kBackgroundColour = RGB(22, 22, 32);
constexpr COLORREF kTitleColour = RGB(153, 38, 41);
constexpr COLORREF kTextColour = RGB(200, 200, 210);

// Top-left corner that centres the window on a screen of the given size.
POINT CentredOrigin(int screenWidth, int screenHeight);
// "<server> - Launcher"
std::wstring MainCaption(const std::wstring& serverName);
// "Versão: <version>"
std::wstring VersionLabel(const std::wstring& version);

// From the worker thread: the status line's text and the bar's position (0-100).
void SetStatus(const std::wstring& text);
void SetBar(int position);

// What the menu's file check starts, with g_busy set (the entry point wires the pass in: the window
// knows nothing of updates).
void SetFileCheck(void (*start)());

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool RegisterMainClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
