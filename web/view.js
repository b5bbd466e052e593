// The viewer: draws prints on canvases, zooms (fit, 1:1, 2:1), pans by
// dragging or by the keyboard, compares a conversion with its original
// (side by side, flicker, difference) and lists the header facts.

const FLICKER_MS = 600;
const DIFFERENCE_GAIN = 4;  // the difference view shows 128 + 4 (WSQ - original)

const $ = (id) => document.getElementById(id);

export class Viewer {
  constructor() {
    this.zoom = 'fit';
    this.compare = 'side';
    this.canvases = [$('canvas-a'), $('canvas-b')];
    this.viewports = this.canvases.map((c) => c.parentElement);
    this.images = [];  // ImageData by pane for the current display
    this.flicker = null;
    this.syncScroll();
    this.viewports.forEach((v) => dragToPan(v));
    let width = 0;  // fit follows the panes' width; their height follows the prints
    new ResizeObserver(([entry]) => {
      if (entry.contentRect.width === width) return;
      width = entry.contentRect.width;
      this.applyZoom();
    }).observe($('panes'));
  }

  setZoom(zoom) {
    this.zoom = zoom;
    pressOne('[data-zoom]', 'zoom', zoom);
    this.applyZoom();
  }

  setCompare(mode) {
    this.compare = mode;
    pressOne('[data-compare]', 'compare', mode);
    if (this.conversion) this.drawConversion();
  }

  // One stream of a decoded WSQ file.
  showPrint(title, stream, caption) {
    this.conversion = null;
    this.begin(title, false);
    this.draw([{ caption, image: grayImage(stream.pixels, stream.width, stream.height) }]);
  }

  // An image made into WSQ: its gray original and, once decoded, the stream.
  showConversion(title, result) {
    const { width, height } = result;
    let differenceImage = null;  // made when first asked for
    this.conversion = {
      original: grayImage(result.gray, width, height),
      coded: result.decoded && grayImage(result.decoded, width, height),
      difference: () => differenceImage ??= grayImage(difference(result.gray, result.decoded), width, height),
      bitrate: result.settings.bitrate,
    };
    this.begin(title, true);
    this.drawConversion();
  }

  clear() {
    this.stopFlicker();
    this.conversion = null;
    this.images = [];
    $('viewer-title').textContent = 'No file open';
    for (const id of ['tools', 'panes', 'pan-hint']) $(id).hidden = true;
    $('placeholder').hidden = false;
    $('facts').replaceChildren();
  }

  setFacts(pairs) {
    $('facts').replaceChildren(...pairs.flatMap(([term, value]) => {
      const dt = document.createElement('dt'), dd = document.createElement('dd');
      dt.textContent = term;
      dd.append(value);
      return [dt, dd];
    }));
  }

  begin(title, isConversion) {
    this.stopFlicker();
    $('viewer-title').textContent = title;
    for (const id of ['tools', 'panes', 'pan-hint']) $(id).hidden = false;
    $('placeholder').hidden = true;
    $('compare').hidden = $('save-wsq').hidden = $('reencode').hidden = !isConversion;
    $('save-png').disabled = false;
  }

  drawConversion() {
    const { original, coded, difference: differenceImage, bitrate } = this.conversion;
    const wsqCaption = `WSQ at ${bitrate} bits per pixel, decoded`;
    this.stopFlicker();
    for (const button of document.querySelectorAll('[data-compare], #save-png')) button.disabled = !coded;
    if (!coded)
      this.draw([{ caption: 'Original, gray (the WSQ stream is being decoded for the comparison)', image: original }]);
    else if (this.compare === 'side')
      this.draw([{ caption: 'Original, gray', image: original }, { caption: wsqCaption, image: coded }]);
    else if (this.compare === 'difference')
      this.draw([{ caption: `Difference: mid gray where equal, WSQ minus original x${DIFFERENCE_GAIN}`, image: differenceImage() }]);
    else {
      const frames = [{ caption: 'Original, gray (flicker)', image: original }, { caption: `${wsqCaption} (flicker)`, image: coded }];
      let shown = 0;
      this.draw([frames[0]]);
      this.flicker = setInterval(() => {
        shown ^= 1;
        this.paint(0, frames[shown]);
      }, FLICKER_MS);
    }
  }

  stopFlicker() {
    clearInterval(this.flicker);
    this.flicker = null;
  }

  draw(panes) {
    $('pane-b').hidden = panes.length < 2;
    panes.forEach((pane, i) => this.paint(i, pane));
    this.images = panes.map((p) => p.image);
    this.applyZoom();
  }

  paint(index, { caption, image }) {
    const canvas = this.canvases[index];
    if (canvas.width !== image.width || canvas.height !== image.height) {
      canvas.width = image.width;
      canvas.height = image.height;
    }
    canvas.getContext('2d').putImageData(image, 0, 0);
    $(index ? 'caption-b' : 'caption-a').textContent = caption;
  }

  applyZoom() {
    this.images.forEach((image, i) => {
      const viewport = this.viewports[i], canvas = this.canvases[i];
      const scale = this.zoom === 'fit'
        ? Math.min(viewport.clientWidth / image.width, parseFloat(getComputedStyle(viewport).maxHeight) / image.height)
        : Number(this.zoom);
      canvas.style.width = `${Math.max(1, Math.floor(image.width * scale))}px`;
      canvas.style.height = `${Math.max(1, Math.floor(image.height * scale))}px`;
      canvas.classList.toggle('pixelated', scale > 1);
      viewport.classList.toggle('fit', this.zoom === 'fit');
    });
  }

  // Side by side, both panes show the same place of the print.
  syncScroll() {
    let leader = null;
    this.viewports.forEach((source, i) => source.addEventListener('scroll', () => {
      if (leader !== null && leader !== source) return;
      leader = source;
      const other = this.viewports[1 - i];
      other.scrollLeft = source.scrollLeft;
      other.scrollTop = source.scrollTop;
      requestAnimationFrame(() => { leader = null; });
    }));
  }
}

function pressOne(selector, key, value) {
  for (const button of document.querySelectorAll(selector))
    button.setAttribute('aria-pressed', String(button.dataset[key] === value));
}

// Opaque RGBA of gray pixels, written a pixel at a time as one little-endian
// word (the byte order of typed arrays in every browser): alpha in the top byte.
export function grayImage(pixels, width, height) {
  const image = new ImageData(width, height), words = new Uint32Array(image.data.buffer);
  for (let i = 0; i < pixels.length; i++) words[i] = 0xff000000 | (pixels[i] * 0x010101);
  return image;
}

function difference(original, coded) {
  const out = new Uint8ClampedArray(original.length);  // clamps to 0..255
  for (let i = 0; i < out.length; i++) out[i] = 128 + DIFFERENCE_GAIN * (coded[i] - original[i]);
  return out;
}

// Dragging with a mouse or pen pans; touch pans natively by scrolling.
function dragToPan(viewport) {
  let last = null;
  viewport.addEventListener('pointerdown', (e) => {
    if (e.pointerType === 'touch' || e.button !== 0) return;
    last = { x: e.clientX, y: e.clientY };
    viewport.setPointerCapture(e.pointerId);
    viewport.classList.add('dragging');
  });
  viewport.addEventListener('pointermove', (e) => {
    if (!last) return;
    viewport.scrollBy(last.x - e.clientX, last.y - e.clientY);
    last = { x: e.clientX, y: e.clientY };
  });
  const end = () => { last = null; viewport.classList.remove('dragging'); };
  viewport.addEventListener('pointerup', end);
  viewport.addEventListener('pointercancel', end);
}
