// Win32 glue: the main window. Built from the form description in stored order; its creation handler
// runs the start-up sequence; the header switches cards, the logo opens the home page, the option
// switches record their state, and the run switch goes to the run control, for which the window is
// the view.
#pragma once

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/run_control.h"
#include "ui/activity_indicator_win32.h"
#include "ui/form_win32.h"
#include "ui/image_win32.h"
#include "ui/markup_label_win32.h"
#include "ui/panels_win32.h"
#include "ui/std_controls_win32.h"
#include "ui/styled_button_win32.h"

namespace tarnell {

class TSystemRunControl;
class TThemeHelper;

struct TFrmTarnellOptions {
    std::u16string serviceUrl;  // asked once at start-up; empty: no service check
    std::u16string homeUrl;     // opened from the logo
};

class TFrmTarnell final : public TForm, public RunView {
  public:
    TFrmTarnell(TComponent* owner, const TFrmTarnellOptions& options);
    ~TFrmTarnell() override;

    // Makes the window and its controls, then runs FormCreate. An error that escapes a step of the
    // start-up sequence ends the sequence there and goes to the unhandled-error handler; the window
    // is made all the same.
    void Create();

    // Controls, named as in the form description.
    TCardPanel* PnlMain = nullptr;
    TCard* Card1 = nullptr;
    TLabel* LblTitle = nullptr;
    TMarkupLabel* LblContent = nullptr;
    TStyledSpeedButton* BtnStart = nullptr;
    TActivityIndicator* Indicator = nullptr;
    TCard* Card2 = nullptr;
    TLabel* LblVersion = nullptr;
    TGroupBox* GroupBox1 = nullptr;
    TLabel* LblAdapter = nullptr;
    TLabel* LblIPAddress = nullptr;
    TGroupBox* GroupBox2 = nullptr;
    TCheckBox* ChkTcpNoDelay = nullptr;
    TCheckBox* ChkTCPAckFrequency = nullptr;
    TCheckBox* ChkTcpDelAckTick = nullptr;
    TGroupBox* GroupBox3 = nullptr;
    TCheckBox* ChkNetworkThrottlingIndex = nullptr;
    TCheckBox* ChkSystemResponsiveness = nullptr;
    TPanel* PnlHead = nullptr;
    TStyledToolbar* BtnHead = nullptr;
    TStyledToolButton* BtnHome = nullptr;
    TStyledToolButton* BtnConfig = nullptr;
    TStyledToolButton* BtnDonate = nullptr;
    TPanel* PnlLogo = nullptr;
    TImage* ImgLogo = nullptr;

    // Handlers bound by the form description.
    void FormCreate();
    void BtnHomeClick(TComponent* sender);
    void BtnStartClick(TComponent* sender);
    void ChkTCPAckFrequencyClick(TComponent* sender);
    void ChkTcpDelAckTickClick(TComponent* sender);
    void ChkTcpNoDelayClick(TComponent* sender);
    void ChkNetworkThrottlingIndexClick(TComponent* sender);
    void ChkSystemResponsivenessClick(TComponent* sender);

    TRunControl* RunControl();
    int TaglineIndex() const { return taglineIndex_; }

    // RunView
    void SetIndicatorVisible(bool visible) override;
    void SetIndicatorAnimating(bool animating) override;
    void SetRunCaption(const std::u16string& caption) override;
    void SetRunEnabled(bool enabled) override;
    void SetRunDown(bool down) override;
    void SetOptionEnabled(TRunOption option, bool enabled) override;
    bool OptionChecked(TRunOption option) const override;
    void SetOptionChecked(TRunOption option, bool checked) override;
    void SetAdapterCaption(const std::u16string& caption) override;
    void SetIPAddressCaption(const std::u16string& caption) override;
    void ShowStatusError(const std::u16string& message) override;

  protected:
    void FormDestroying() override;
    // Windows Installer's Restart Manager (files in use) and the end of the session close the window.
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Home, Config, the logo, then the shown card's controls in reading order.
    std::vector<TControl*> TabOrder() const override;
    // The notice line after them, once it shows.
    std::vector<HWND> TabStops() const override;
    // The other card, as its header button would show it; the focus goes to that button.
    void NextPage(bool backward) override;
    // Left and Right (Up and Down) on a header button: the tab beside it, and its card.
    bool ArrowKey(HWND from, bool backward) override;
    // While busy the indicator takes the focus the run switch gives up, so the wait is what is focused.
    HWND FocusStandIn(HWND leaving) const override;

  private:
    void BuildFromDescription();
    void AttachAccessibility();
    TCheckBox* OptionSwitch(TRunOption option) const;
    void OptionClick(TRunOption option, TComponent* sender);
    // The last step of the start-up sequence, once the window has been painted (see FormCreate).
    void AfterFirstFrame();
    void StartServiceCheck();
    static constexpr UINT_PTR kFirstFrameTimer = 1;
    static constexpr UINT_PTR kServiceCheckTimer = 2;

    TFrmTarnellOptions options_;
    // The window's lifetime token: what comes back to it later (the service check's answer) holds it
    // weakly and finds it expired once the window is gone, as the run control's waits do with theirs.
    std::shared_ptr<TFrmTarnell*> self_;
    std::unique_ptr<TSystemRunControl> run_;
    std::unique_ptr<TThemeHelper> theme_;
    std::mt19937 random_;
    int taglineIndex_ = -1;
};

}  // namespace tarnell
