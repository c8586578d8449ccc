// Loads the diagram library's module build and hands it to the page's script.
import mermaid from "./mermaid.esm.min.mjs";

window.mermaid = mermaid;
if (window.performance && typeof performance.mark === "function") performance.mark("library-ready");
window.dispatchEvent(new Event("quorrix-engine-loaded"));
