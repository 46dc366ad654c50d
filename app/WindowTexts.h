#pragma once

// The fixed texts of the window, in one place so that tests can assert them exactly.
// UTF-8 throughout.

namespace tarnwick::WindowTexts {

inline constexpr char ApplicationTitle[] = "Tarnwick";
inline constexpr char Caption[] = "Tarnwick - Rero 1.01";
inline constexpr char IdleStatus[] = "Please enter a video URL and press the «Download» button.";
inline constexpr char EmptyAddress[] = "Please enter a video URL.";
inline constexpr char SelectFolder[] = "Select folder";
inline constexpr char ExampleHint[] = "This is the video URL for example";
inline constexpr char Download[] = "Download";
inline constexpr char Abort[] = "Abort";

// The maker's pages.
inline constexpr char HomePage[] = "https://tarnwick.example/";
inline constexpr char HomePageShort[] = "tarnwick.example";
inline constexpr char CompanyPage[] = "https://tarnwick-software.example/";
inline constexpr char Copyright[] = "© 2026 Tarnwick";

// Description page labels (the two trailing blanks keep them off the value panels).
inline constexpr char AuthorLabel[] = "author  ";
inline constexpr char TitleLabel[] = "title  ";
inline constexpr char LengthLabel[] = "duration  ";
inline constexpr char SizeLabel[] = "file size  ";

// Format page.
inline constexpr char FormatLabel[] = "Convert to format  ";
inline constexpr char QualityLabel[] = "Choose quality  ";
inline constexpr char HdLabel[] = "High Definition  ";
inline constexpr const char* Formats[] = {
    "No convert",
    "Ipod Video (Apple Quick Time MOV)",
    "Iphone Video (MPEG-4 MP4)",
    "PSP Video (H.264 MP4)",
    "Cell Phone (H.263 3GP)",
    "Windows Media Video (V.7 WMV)",
    "XVid MPEG-4 Codec (AVI)",
    "MPEG Audio Layer 3 (MP3)",
};
inline constexpr const char* Qualities[] = {"Low", "Medium", "Optimal", "High"};
inline constexpr char ConnectionsLabel[] = "Connections  ";
inline constexpr char RateLabel[] = "Limit speed  ";
inline constexpr char AtOnceLabel[] = "At once  ";
// The speed limits offered; any other rate may be typed (ParseRate's forms).
inline constexpr const char* Rates[] = {"Off", "256K", "512K", "1M", "2M", "5M", "10M"};
inline constexpr char HdNo[] = " No";
inline constexpr char HdYes[] = " Yes (if available)";

// Hints of the picture buttons.
inline constexpr char MainHint[] = "Main";
inline constexpr char OptionsHint[] = "Options";
inline constexpr char ChangeDirectoryHint[] = "Change directory";
inline constexpr char OpenDirectoryHint[] = "Open directory";

// The status line's note when a dropped or pasted item is no web address.
inline constexpr char LinkRefused[] = "Only an http or https address can be dropped or pasted here.";
// The status line's hint while it shows the saved file when pressed.
inline constexpr char ShowSavedFileHint[] = "Click to show the saved file in the file manager.";

// Names and descriptions for assistive technology, where a control's caption or picture does not
// say it.
inline constexpr char LogoName[] = "Tarnwick home page";
inline constexpr char LinkDescription[] = "Opens the page in the web browser";
inline constexpr char PreviewName[] = "Preview picture";
inline constexpr char SiteListDescription[] = "Video site";
inline constexpr char AddressName[] = "Video page address";
inline constexpr char AddressDescription[] = "Enter starts the download; Alt+D comes back here";
inline constexpr char DownloadDescription[] = "Starts the download, or aborts it while it runs (Escape)";
inline constexpr char HdDescription[] = "High Definition";
inline constexpr char ConnectionsDescription[] = "Connections one download uses at once, 1 to 16";
inline constexpr char RateDescription[] =
    "Bytes per second for the whole download: Off, or a rate such as 500K or 2M";
inline constexpr char AtOnceDescription[] = "Videos of the queue downloaded at the same time, 1 to 3";
inline constexpr char MainDescription[] = "Shows the video's description";
inline constexpr char OptionsDescription[] = "Shows the format and quality options";
inline constexpr char ChangeDirectoryDescription[] = "Chooses the folder the videos are saved in";
inline constexpr char OpenDirectoryDescription[] = "Opens the save folder in the file manager";
inline constexpr char SaveFolderDescription[] = "Save folder";
inline constexpr char StatusName[] = "Status";
inline constexpr char QueueHint[] = "Queue";
inline constexpr char QueueDescription[] = "Shows the download queue";

// The Queue page.
inline constexpr char QueueListName[] = "Download queue";
inline constexpr char QueueTitleHeader[] = "Video";
inline constexpr char QueueStateHeader[] = "State";
inline constexpr char QueueProgressHeader[] = "Progress";
inline constexpr char QueueWaiting[] = "Waiting";
inline constexpr char QueueRunning[] = "Running";
inline constexpr char QueueSaved[] = "Saved";
inline constexpr char QueueFailed[] = "Failed";
inline constexpr char QueueStopped[] = "Stopped";
inline constexpr char TryAgain[] = "Try again";
inline constexpr char Remove[] = "Remove";
inline constexpr char ShowFile[] = "Show file";
inline constexpr char TryAgainDescription[] = "Queues the chosen failed or stopped video again";
inline constexpr char RemoveDescription[] = "Takes the chosen video off the queue, stopping it when it runs";
inline constexpr char ShowFileDescription[] = "Shows the chosen video's saved file in the file manager";
// Status line notes about the queue.
inline constexpr char AlreadyQueued[] = "This address is in the queue already.";
// Followed by the system's reason and a full stop; the queue goes on in memory.
inline constexpr char QueueNotSaved[] = "The queue could not be saved: ";
inline constexpr char QueueNotKept[] =
    "Another running copy of Tarnwick keeps the queue; this one's queue is not kept.";
inline constexpr char ProgressName[] = "Progress";

}  // namespace tarnwick::WindowTexts
