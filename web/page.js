// The page: the figure drawn by the plug-in in the page's Tcl interpreter,
// a panel built from the controls the plug-in declares, the clock, and
// the viewer's orbit, zoom and pan on the canvas. Everything it does to the
// figure it does by evaluating Tcl, as a host does.
(function () {
    'use strict';
    const $ = (id) => document.getElementById(id);
    const canvas = $('figure');
    const status = $('status');
    const opening = JSON.parse($('morvakine-opening').textContent || '{}');
    // The viewer's: an orbit of half a degree a pixel, zoom within 0.1-20
    // in steps of 1.25, pan within 10 half-widths.
    const kOrbitRate = 0.5, kZoomStep = 1.25, kZoomLimits = [0.1, 20], kPanLimit = 10;
    const kPeriod = 15;  // the figure's turn, the timeline's span
    const home = Object.assign({ zoom: 1, x: 0, y: 0 }, opening.view || {});
    const view = Object.assign({}, home);
    const origin = Number(opening.time) || 0;
    // The timeline spans the turn that holds the opening time, so a page
    // opened at 5 s shows its thumb a third of the way along.
    const turnStart = Math.floor(origin / kPeriod) * kPeriod;
    let tcl = null;
    let homeOrbit = {};
    const inputs = new Map();  // control id -> its input

    const say = (text) => { status.textContent = text; };
    const clamp = (value, low, high) => Math.min(Math.max(value, low), high);
    // A number as Tcl reads it from a decimal: finite, no octal or hex.
    const decimal = (value) => String(Number.isFinite(value) ? value : 0);

    if (opening.width && opening.height) {
        canvas.style.width = opening.width + 'px';
        canvas.style.aspectRatio = opening.width + ' / ' + opening.height;
    }

    // The drawing buffer at the screen's own density, so that the figure
    // is sharp wherever the page is shown.
    function fitBuffer() {
        const ratio = window.devicePixelRatio || 1;
        const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
        const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
        if (canvas.width !== width || canvas.height !== height) {
            canvas.width = width;
            canvas.height = height;
        }
    }

    function draw() {
        fitBuffer();
        tcl(`::model::resize ${canvas.width} ${canvas.height}
             zelkori::frame ${decimal(view.zoom)} ${decimal(view.x)} ${decimal(view.y)}
             ::model::redraw`);
    }

    function showClock() {
        const time = Number(tcl('zelkori::clock get'));
        if (document.activeElement !== $('time')) {
            $('time').value = time.toFixed(2);
        }
        const offset = ((time - turnStart) % kPeriod + kPeriod) % kPeriod;
        $('timeline').value = turnStart + offset;
        $('play').textContent = tcl('zelkori::clock playing') === '1' ? 'Pause' : 'Play';
    }

    let pending = false;
    // A frame that fails (a console command broke the figure) stops the
    // loop with Tcl's message in the status line; the next request tries again.
    let failing = false;
    function frame() {
        pending = false;
        try {
            draw();
            showClock();
            if (failing) {
                failing = false;
                say('');
            }
        } catch (error) {
            failing = true;
            say('The figure cannot be drawn: ' + error.message);
            return;
        }
        if (tcl('zelkori::clock playing') === '1') {
            request();
        }
    }
    function request() {
        if (!pending && tcl !== null) {
            pending = true;
            requestAnimationFrame(frame);
        }
    }

    // ---- the panel, from the plug-in's declared controls
    // The declared controls, in declaration order, as JSON made in Tcl.
    function controls() {
        return JSON.parse(tcl(String.raw`
            set rows {}
            foreach c [zelkori::control list] {
                dict with c {
                    set text [string map {\\ \\\\ \" \\\" </ <\\/} [regsub -all {[[:cntrl:]]} $label ?]]
                    lappend rows [format {{"id":%d,"kind":"%s","low":%s,"high":%s,"step":%s,"value":%s,"label":"%s"}} $id $kind $low $high $step $value $text]
                }
            }
            format {[%s]} [join $rows ,]`));
    }

    function buildPanel() {
        const panel = $('panel');
        for (const control of controls()) {
            const name = 'control-' + control.id;
            if (control.kind === 'checkbox') {
                const label = document.createElement('label');
                label.className = 'check';
                const box = document.createElement('input');
                box.type = 'checkbox';
                box.id = name;
                box.checked = Number(control.value) !== 0;
                box.addEventListener('change', () => {
                    tcl(`zelkori::control set ${control.id} ${box.checked ? 1 : 0}`);
                    request();
                });
                label.append(box, ' ' + control.label);
                panel.append(label);
                inputs.set(control.id, box);
                continue;
            }
            const label = document.createElement('label');
            label.htmlFor = name;
            label.textContent = control.label;
            const range = document.createElement('input');
            range.type = 'range';
            range.id = name;
            range.min = control.low;
            range.max = control.high;
            range.step = control.step > 0 ? control.step : 'any';
            range.value = control.value;
            const shown = document.createElement('output');
            shown.htmlFor = name;
            shown.value = control.value;
            range.addEventListener('input', () => {
                tcl(`zelkori::control set ${control.id} ${decimal(Number(range.value))}`);
                shown.value = tcl(`zelkori::control get ${control.id}`);
                tickManual(control);
                request();
            });
            panel.append(label, range, shown);
            inputs.set(control.id, range);
        }
    }

    // A slider that poses the figure only under manual control ticks it, so
    // that the figure answers, and the status line says why (the viewer's rule).
    function tickManual(control) {
        const manual = tcl('zelkori::manual_id');
        if (manual === '' || tcl(`zelkori::control get ${manual}`) === '1' ||
            tcl(`zelkori::needs_manual ${control.id}`) !== '1') {
            return;
        }
        setControl(Number(manual), 1);
        say(`manual control ticked: ${control.label} poses the figure only under it`);
    }

    function setControl(id, value) {
        tcl(`zelkori::control set ${id} ${decimal(value)}`);
        const input = inputs.get(id);
        if (input && input.type === 'checkbox') {
            input.checked = tcl(`zelkori::control get ${id}`) === '1';
        } else if (input) {
            input.value = tcl(`zelkori::control get ${id}`);
            if (input.nextElementSibling && input.nextElementSibling.tagName === 'OUTPUT') {
                input.nextElementSibling.value = input.value;
            }
        }
    }

    const viewId = (label) => {
        const id = tcl(`if {[catch {dict get [zelkori::control info {${label}}] id} id]} {set id {}} {set id}`);
        return id === '' ? null : Number(id);
    };

    // A paused figure is drawn again when its canvas changes size.
    new ResizeObserver(() => request()).observe(canvas);

    // ---- orbit, zoom and pan, as the viewer has them
    function setView(zoom, x, y) {
        view.zoom = clamp(zoom, kZoomLimits[0], kZoomLimits[1]);
        view.x = clamp(x, -kPanLimit, kPanLimit);
        view.y = clamp(y, -kPanLimit, kPanLimit);
        request();
    }

    function zoomBy(factor, clientX, clientY) {
        const applied = clamp(view.zoom * factor, kZoomLimits[0], kZoomLimits[1]) / view.zoom;
        let cx = 0, cy = 0;
        if (clientX !== undefined) {
            const box = canvas.getBoundingClientRect();
            cx = 2 * (clientX - box.left) / Math.max(1, box.width) - 1;
            cy = 1 - 2 * (clientY - box.top) / Math.max(1, box.height);
        }
        setView(view.zoom * applied, cx - applied * (cx - view.x), cy - applied * (cy - view.y));
    }

    function wrapDegrees(angle, id) {
        const step = Number(tcl(`dict get [zelkori::control info ${id}] step`)) || 1;
        angle = ((angle % 360) + 360) % 360;
        angle = Math.round(angle / step) * step;
        return angle >= 360 ? 0 : angle;
    }

    let drag = null;
    canvas.addEventListener('pointerdown', (event) => {
        canvas.focus();
        try {
            canvas.setPointerCapture(event.pointerId);
        } catch (error) {
            // A pointer the browser no longer tracks: the drag goes on uncaptured.
        }
        const pan = event.button === 1 || (event.button === 0 && event.shiftKey);
        const tilt = viewId('x view'), turn = viewId('z view');
        if (pan) {
            drag = { pan: true, x: event.clientX, y: event.clientY };
        } else if (event.button === 0 && tilt !== null && turn !== null) {
            drag = { pan: false, x: event.clientX, y: event.clientY, tilt, turn,
                     tiltFrom: Number(tcl(`zelkori::control get ${tilt}`)),
                     turnFrom: Number(tcl(`zelkori::control get ${turn}`)) };
        }
        event.preventDefault();
    });
    canvas.addEventListener('pointermove', (event) => {
        if (!drag) {
            return;
        }
        if (drag.pan) {
            const box = canvas.getBoundingClientRect();
            setView(view.zoom, view.x + 2 * (event.clientX - drag.x) / Math.max(1, box.width),
                    view.y - 2 * (event.clientY - drag.y) / Math.max(1, box.height));
            drag.x = event.clientX;
            drag.y = event.clientY;
        } else {
            setControl(drag.tilt, wrapDegrees(drag.tiltFrom + (event.clientY - drag.y) * kOrbitRate, drag.tilt));
            setControl(drag.turn, wrapDegrees(drag.turnFrom + (event.clientX - drag.x) * kOrbitRate, drag.turn));
            request();
        }
    });
    const endDrag = () => { drag = null; };
    canvas.addEventListener('pointerup', endDrag);
    canvas.addEventListener('pointercancel', endDrag);
    canvas.addEventListener('wheel', (event) => {
        event.preventDefault();
        zoomBy(event.deltaY < 0 ? kZoomStep : 1 / kZoomStep, event.clientX, event.clientY);
    }, { passive: false });
    canvas.addEventListener('keydown', (event) => {
        const keys = { '+': () => zoomBy(kZoomStep), '=': () => zoomBy(kZoomStep),
                       '-': () => zoomBy(1 / kZoomStep), '0': resetView };
        if (keys[event.key]) {
            keys[event.key]();
            event.preventDefault();
        }
    });

    function resetView() {
        for (const [id, angle] of Object.entries(homeOrbit)) {
            setControl(Number(id), angle);
        }
        setView(home.zoom, home.x, home.y);
    }

    // ---- the clock
    $('play').addEventListener('click', () => {
        tcl(tcl('zelkori::clock playing') === '1' ? 'zelkori::clock pause' : 'zelkori::clock play');
        request();
    });
    $('time').addEventListener('change', () => {
        const time = Number($('time').value);
        if (Number.isFinite(time)) {
            tcl(`zelkori::clock set ${decimal(time)}`);
        }
        request();
    });
    $('timeline').addEventListener('input', () => {
        tcl(`zelkori::clock set ${decimal(Number($('timeline').value))}`);
        request();
    });
    $('reset').addEventListener('click', resetView);

    // ---- the console: evaluates in the page's interpreter
    $('tcl-command').addEventListener('keydown', (event) => {
        if (event.key !== 'Enter') {
            return;
        }
        const script = event.target.value;
        event.target.value = '';
        let answer;
        try {
            answer = tcl(script);
        } catch (error) {
            answer = error.message;
        }
        $('tcl-output').textContent += '% ' + script + '\n' + (answer === '' ? '' : answer + '\n');
        $('tcl-output').scrollTop = $('tcl-output').scrollHeight;
        for (const [id, input] of inputs) {
            const value = tcl(`zelkori::control get ${id}`);
            if (input.type === 'checkbox') {
                input.checked = value === '1';
            } else {
                input.value = value;
                input.nextElementSibling.value = value;
            }
        }
        request();
    });

    // ---- start
    let ready;
    const started = new Promise((resolve) => { ready = resolve; });
    window.morvakine = { started, draw: () => { draw(); showClock(); }, tcl: (script) => tcl(script) };

    MorvakinePage({ canvas, print: () => {}, printErr: (text) => console.warn(text) }).then((module) => {
        window.morvakine.compiled = performance.now();
        const open = module.cwrap('zk_page_open', 'number', []);
        const evaluate = module.cwrap('zk_page_eval', 'number', ['string']);
        const result = module.cwrap('zk_page_result', 'string', []);
        tcl = (script) => {
            const code = evaluate(script);
            const text = result();
            if (code !== 0) {
                throw new Error(text);
            }
            return text;
        };
        if (!open()) {
            throw new Error(result());
        }
        tcl($('morvakine-host-tcl').textContent);
        tcl('::model::setup');
        for (const [id, value] of Object.entries(opening.controls || {})) {
            tcl(`zelkori::control set ${Number(id)} ${decimal(Number(value))}`);
        }
        tcl(`zelkori::clock set ${decimal(origin)}`);
        for (const label of ['x view', 'z view']) {
            const id = viewId(label);
            if (id !== null) {
                homeOrbit[id] = Number(tcl(`zelkori::control get ${id}`));
            }
        }
        buildPanel();
        $('timeline').min = turnStart;
        $('timeline').max = turnStart + kPeriod;
        draw();
        window.morvakine.firstPicture = performance.now();
        if (opening.playing !== false) {
            tcl('zelkori::clock play');
            request();
        }
        showClock();
        ready();
    }).catch((error) => say('The figure cannot be shown: ' + (error && error.message || error)));
})();
