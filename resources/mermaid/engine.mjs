// Loads the diagram library's module build and hands it to the page's script, fixed on the
// window: no later script replaces the library or its functions.
import mermaid from "./mermaid.esm.min.mjs";

Object.defineProperty(window, "mermaid", { value: Object.freeze(mermaid), writable: false, configurable: false });
if (window.performance && typeof performance.mark === "function") performance.mark("library-ready");
window.dispatchEvent(new Event("quorrix-engine-loaded"));
