// The session's prompts as modal dialogs: a text entry (masked for a
// password, with a box to save the entry), a yes/no question, and an error
// to acknowledge.  Each resolves with what the person chose; opening a new
// one, or dismiss(), ends the open one without an answer (null).

function el(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  for (const child of children) node.append(child);
  return node;
}

export class Dialogs {
  constructor(root = document.body) {
    this.root = root;
    this.dialog = null;
    this.finish = null;
  }

  get open() {
    return this.dialog !== null;
  }

  // Ends the open dialog without an answer.
  dismiss() {
    this.settle(null);
  }

  settle(value) {
    const { dialog, finish } = this;
    this.dialog = null;
    this.finish = null;
    if (dialog) {
      if (dialog.open) dialog.close();
      dialog.remove();
    }
    if (finish) finish(value);
  }

  // Builds and shows a dialog; `buttons` are [label, value, primary] and
  // `cancel` the value Escape gives.  `read(value)` turns the button's value
  // into the answer.
  show({ kind, title, message, body = [], buttons, cancel, read = (v) => v, focus }) {
    this.dismiss();
    const actions = el('div', { className: 'kvx-dialog-actions' });
    const dialog = el('dialog', { className: `kvx-dialog kvx-dialog-${kind}` }, [
      el('form', { method: 'dialog' }, [
        el('h2', { textContent: title }),
        el('p', { className: 'kvx-dialog-message', textContent: message }),
        ...body,
        actions,
      ]),
    ]);
    // The primary button comes first, so that Enter chooses it; the style
    // sheet shows the buttons in reverse order.
    const ordered = [...buttons].sort((a, b) => Number(b[2]) - Number(a[2]));
    for (const [label, value, primary] of ordered) {
      const button = el('button', { type: 'submit', value: String(value), textContent: label });
      button.dataset.answer = String(value);
      if (primary) button.className = 'primary';
      actions.append(button);
    }
    const answer = new Promise((resolve) => {
      this.finish = resolve;
    });
    dialog.addEventListener('cancel', (ev) => {
      ev.preventDefault();
      this.settle(read(cancel));
    });
    dialog.querySelector('form').addEventListener('submit', (ev) => {
      ev.preventDefault();
      const value = ev.submitter ? ev.submitter.value : String(buttons.find((b) => b[2])[1]);
      this.settle(read(value));
    });
    this.dialog = dialog;
    this.root.append(dialog);
    dialog.showModal();
    (focus || dialog.querySelector('button.primary'))?.focus();
    return answer;
  }

  // Resolves with { text, code }: code 0 cancelled, 1 accepted, 3 accepted
  // with the save box ticked; null when dismissed.  `save` false leaves the
  // save box out.
  entry({ title, message, password, save: offerSave = true }) {
    const input = el('input', {
      type: password ? 'password' : 'text',
      className: 'kvx-dialog-input',
      autocomplete: password ? 'current-password' : 'off',
      spellcheck: false,
    });
    input.setAttribute('aria-label', message?.trim() || title?.trim() || 'Entry');
    const save = el('input', { type: 'checkbox', className: 'kvx-dialog-save' });
    const saveLabel = el('label', { className: 'kvx-dialog-save-label' }, [save, ' Save this entry']);
    return this.show({
      kind: 'entry',
      title: title?.trim() || 'Entry',
      message,
      body: offerSave ? [input, saveLabel] : [input],
      buttons: [['Cancel', 0, false], ['OK', 1, true]],
      cancel: 0,
      read: (value) => {
        const code = Number(value) === 1 ? (save.checked ? 3 : 1) : 0;
        return { text: code ? input.value : '', code };
      },
      focus: input,
    });
  }

  // Resolves with 1 for yes and 0 for no; null when dismissed.
  yesNo({ title, message }) {
    return this.show({
      kind: 'yesno',
      // An empty text travels as a single space.
      title: title?.trim() || 'Question',
      message,
      buttons: [['No', 0, false], ['Yes', 1, true]],
      cancel: 0,
      read: Number,
    });
  }

  // Resolves with true once acknowledged; null when dismissed.
  error({ fatal, message }) {
    return this.show({
      kind: fatal ? 'fatal' : 'error',
      title: fatal ? 'Error' : 'Notice',
      message,
      buttons: [['OK', 1, true]],
      cancel: 1,
      read: () => true,
    });
  }
}
