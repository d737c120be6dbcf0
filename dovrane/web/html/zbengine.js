// The engine pages' script: refresh after an action, the refresh check, popups and windows.
var zbCheckTimer = null;

function zbRefreshId() {
  var holder = document.getElementById('refreshid');
  var id = holder ? holder.getAttribute('data-rid') : '';
  return id && id.charAt(0) !== '#' ? id : '';
}

// force: reload now (after an action link). Otherwise ask the engine whether the page changed;
// when it did, its answer is the page's refresh section as it is now, which replaces the shown one.
function CheckRefresh(force) {
  if (zbCheckTimer) { window.clearTimeout(zbCheckTimer); zbCheckTimer = null; }
  if (force) { window.location.reload(); return; }
  var id = zbRefreshId();
  var every = (typeof timeout === 'number' && timeout > 0 ? timeout : 5) * 1000;
  var afterChange = (typeof timeout_ac === 'number' && timeout_ac > 0 ? timeout_ac : 5) * 1000;
  if (!id || !window.XMLHttpRequest) return;
  var request = new XMLHttpRequest();
  var page = window.location.pathname + window.location.search;
  request.open('GET', '/checkrefresh.htm?rpg=' + encodeURIComponent(page) + '&rid=' + encodeURIComponent(id), true);
  request.onreadystatechange = function () {
    if (request.readyState !== 4) return;
    var changed = request.status === 200 && request.responseText !== '0' && request.responseText !== '';
    var section = document.getElementById('ajaxsection');
    if (changed && !section) { window.location.reload(); return; }
    if (changed) section.innerHTML = request.responseText;
    zbCheckTimer = window.setTimeout(function () { CheckRefresh(false); }, changed ? afterChange : every);
  };
  request.send(null);
}

function openwin(url) {
  window.open(url, 'zbfile', 'width=900,height=700,resizable=yes,scrollbars=yes');
  return false;
}

function openbrowsewin() {
  window.open('/browse.htm', 'zbbrowse', 'width=640,height=640,resizable=yes,scrollbars=yes');
  return false;
}

// Called by the browse window with the chosen profile file (URL-encoded).
function assign_selection(path) {
  var opener = window.opener;
  var target = opener && opener.document ? opener.document : document;
  var value = decodeURIComponent(path.replace(/\+/g, ' '));
  var input = target.getElementById('profileinput');
  var hidden = target.getElementById('profile');
  if (input) input.value = value;
  if (hidden) hidden.value = value;
  if (opener && window.close) window.close();
}

// Copies the typed profile name into the field the form sends.
function zbSubmitProfile(form) {
  var input = document.getElementById('profileinput');
  var hidden = document.getElementById('profile');
  if (input && hidden) hidden.value = input.value;
  return true;
}

var zbCurrentPopup = null;

function showPopup(id, event, x, y) {
  hideCurrentPopup();
  var popup = document.getElementById(id);
  if (!popup) return false;
  var pageX = event && event.pageX ? event.pageX : 20;
  var pageY = event && event.pageY ? event.pageY : 20;
  popup.style.display = 'block';
  var left = Math.max(8, Math.min(pageX - x, document.documentElement.clientWidth - popup.offsetWidth - 8));
  popup.style.left = left + 'px';
  popup.style.top = (pageY + 12) + 'px';
  zbCurrentPopup = popup;
  if (event) event.cancelBubble = true;
  return false;
}

function hideCurrentPopup() {
  if (zbCurrentPopup) zbCurrentPopup.style.display = 'none';
  zbCurrentPopup = null;
  return false;
}

function zbConfirm(text) { return window.confirm(text); }

document.addEventListener('click', function () { hideCurrentPopup(); });
