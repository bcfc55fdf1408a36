// A known picture over the whole Windows desktop for the end-to-end class tests: the top half red,
// the bottom half blue, in a borderless window that is not top-most (the program's own window
// stays above it). Runs until it is ended.
#include <windows.h>

namespace {

LRESULT CALLBACK PictureWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT area;
  GetClientRect(window, &area);
  RECT top = area, bottom = area;
  top.bottom = bottom.top = area.bottom / 2;
  HBRUSH red = CreateSolidBrush(RGB(220, 30, 30));
  HBRUSH blue = CreateSolidBrush(RGB(30, 30, 220));
  FillRect(dc, &top, red);
  FillRect(dc, &bottom, blue);
  DeleteObject(red);
  DeleteObject(blue);
  EndPaint(window, &paint);
  return 0;
}

}  // namespace

int main() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = PictureWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuillonDesktopPicture";
  if (!RegisterClassW(&windowClass)) return 1;
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"desktop picture",
                                WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
