#pragma once

// The window's controls by their identifiers, so that tests and tools find each one with
// GetDlgItem. The names are the controls' own with the IDC_ prefix.
namespace ravdel {

enum ControlId : int {
  IDC_CamLstCB = 101,
  IDC_UpdateSB,
  IDC_RunSB,
  IDC_StopSB,
  IDC_ThumbI,
  IDC_SourceNL,
  IDC_SourceXYL,
  IDC_RedL,
  IDC_GreenL,
  IDC_BlueL,
  IDC_SPMNL,
  IDC_SPML,
  IDC_UpTimeL,
  IDC_EvsL,
  IDC_EPDNL,
  IDC_EPDL,
  IDC_LimitNL,
  IDC_LimitE,
  IDC_LimitUD,
  IDC_SoundCB,
  IDC_InverseCB,
  IDC_GrayCB,
  IDC_DirectoryL,
  IDC_DirSB,
  IDC_SaveSetSB,
  IDC_ExitSB,
  IDC_LogM,
  IDC_AboutGB,
  IDC_LogoI,
  IDC_NameL,
  IDC_AuthorL,
  IDC_VersionL,
  IDC_OSI,
  IDC_OSL,
  IDC_WebI,
  IDC_HomeL,
  IDC_MailI,
  IDC_MailL,
};

// The tray menu's entries.
enum MenuId : int {
  IDM_Restore = 201,
  IDM_Minimize,
  IDM_Quit,
  IDM_DetectionOptions,
  IDM_NetworkOptions,
  IDM_History,
};

// The controls of the "Detection options" dialog.
enum DetectionControlId : int {
  IDC_HotPixelMaskCB = 301,
  IDC_LightLeakGuardCB,
  IDC_LeakLevelNL,
  IDC_LeakLevelE,
  IDC_LeakLevelUD,
  IDC_ClustersCB,
  IDC_ClusterLevelNL,
  IDC_ClusterLevelE,
  IDC_ClusterLevelUD,
  IDC_NextRunNL,
};

// The controls of the "Station network" dialog.
enum NetworkControlId : int {
  IDC_ServerNL = 401,
  IDC_ServerE,
  IDC_StationNL,
  IDC_StationE,
  IDC_PasswordNL,
  IDC_PasswordE,
  IDC_TlsCaNL,
  IDC_TlsCaE,
  IDC_LocationNL,
  IDC_LocationE,
  IDC_HistoryCB,
  IDC_NetworkNoteNL,
};

}  // namespace ravdel
